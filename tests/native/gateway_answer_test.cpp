#include "agent/calls/http_wire.h"

#include <gtest/gtest.h>

namespace {

const std::string kUnrecognized = "Unrecognized return from Talmery Gateway.";

TEST(InterpretGatewayAnswer, Grammar) {
  const struct {
    std::string answer;
    int accepted;
    std::string requestId, errorText;
  } cases[] = {
      {"[1234]", 1, "1234", ""},
      {"ok [1234] thanks\r\n[99]", 1, "1234", ""},
      {"[ ]", 1, " ", ""},
      {"[]", 1, "", ""},
      {"]x[7]", 1, "7", ""},
      {"[1234", 0, "", kUnrecognized},
      {"[[1]", 1, "[1", ""},
      {"ERROR: busy [5]", 1, "5", ""},  // the bracket test comes first and wins
      {"header\r\nERROR: no line free\r\nmore\r\n", 0, "", "ERROR: no line free"},
      {"xERROR: a\nb", 0, "", "ERROR: a\nb"},
      {"error: lower case\r\nnext", 0, "", "error: lower case"},
      {"first line\r\nsecond", 0, "", "first line"},
      {"only LF\nsecond", 0, "", "only LF\nsecond"},
      {"", 0, "", ""},
      {"\r\n", 0, "", ""},
      {"ERROR:no blank", 0, "", "ERROR:no blank"},
      {std::string("a\0[12]", 6), 1, "12", ""},
  };
  for (const auto& c : cases) {
    const GatewayAnswer a = InterpretGatewayAnswer(c.answer);
    EXPECT_EQ(a.outcome.Ok() ? 1 : 0, c.accepted) << c.answer;
    EXPECT_EQ(a.requestId, c.requestId) << c.answer;
    EXPECT_EQ(a.outcome.Message(), c.errorText) << c.answer;
  }
}

TEST(IsGatewayFailureStatus, AllButTwoHundreds) {
  EXPECT_TRUE(IsGatewayFailureStatus(0));
  EXPECT_TRUE(IsGatewayFailureStatus(199));
  EXPECT_FALSE(IsGatewayFailureStatus(200));
  EXPECT_FALSE(IsGatewayFailureStatus(299));
  EXPECT_TRUE(IsGatewayFailureStatus(300));
  EXPECT_TRUE(IsGatewayFailureStatus(404));
  EXPECT_TRUE(IsGatewayFailureStatus(500));
  EXPECT_TRUE(IsGatewayFailureStatus(0xFFFFFFFFu));
}

}  // namespace
