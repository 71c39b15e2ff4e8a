// PostToGateway against the stand-in gateway: the request on the wire and every kind of answer.
#include "agent/calls/gateway_client.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tools/gateway/gateway_server.h"

namespace {

const char kPath[] = "/ocall/callreqHandler.jsp";
const char kUnreachable[] = "Failed to connect to the Talmery Gateway. Make sure it is started.";
const char kUnrecognized[] = "Unrecognized return from Talmery Gateway.";

// PostToGateway's answer, flattened for the tables: 1 accepted, 0 refused.
struct Posted {
  int result = -1;
  std::string requestId;
  std::string errorText;
};

class GatewayClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    address_ = {"127.0.0.1", server_.Port()};
  }

  Posted Post(const std::string& body = "a=1") {
    const GatewayAnswer answer = PostToGateway(address_, kPath, body, GetACP());
    return Posted{answer.outcome.Ok() ? 1 : 0, answer.requestId, answer.outcome.Message()};
  }

  gateway::Server server_;
  GatewayAddress address_;
};

// The bytes the gateway has always received from the agent, header order included.
TEST_F(GatewayClientTest, SendsOneFormPostAsBrisomel) {
  const std::string body = "calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=a%0a";
  server_.SetAnswer({200, "OK", "[42]"});
  const Posted o = Post(body);
  EXPECT_EQ(o.result, 1);
  ASSERT_EQ(server_.RequestCount(), 1u);
  EXPECT_EQ(server_.Requests()[0].raw,
            "POST /ocall/callreqHandler.jsp HTTP/1.1\r\n"
            "Content-Type: application/x-www-form-urlencoded; charset=windows-" + std::to_string(GetACP()) + "\r\n"
            "Host: 127.0.0.1:" + std::to_string(server_.Port()) + "\r\n"
            "Content-Length: 60\r\n"
            "User-Agent: Brisomel\r\n"
            "\r\n" + body);
  EXPECT_EQ(server_.ConnectionCount(), 1u);
}

TEST_F(GatewayClientTest, EachCallUsesAFreshConnectionToTheAddressGiven) {
  EXPECT_EQ(Post().result, 1);
  gateway::Server other;
  ASSERT_TRUE(other.Start());
  other.SetAnswer({200, "OK", "[7]"});
  address_.port = other.Port();
  const Posted o = Post();
  EXPECT_EQ(o.requestId, "7");
  EXPECT_EQ(Post().result, 1);
  EXPECT_EQ(server_.ConnectionCount(), 1u);
  EXPECT_EQ(other.ConnectionCount(), 2u);
}

struct AnswerCase {
  const char* name;
  int status;
  std::string body;
  int result;
  std::string requestId;
  std::string errorText;
};

TEST_F(GatewayClientTest, InterpretsEachKindOfAnswer) {
  const std::string past1024 = std::string(1024, 'x') + "[7]";
  const std::string bracketCut = std::string(1020, ' ') + "[12345]";
  const AnswerCase cases[] = {
      {"id", 200, "[1234]", 1, "1234", ""},
      {"id amid text", 200, "Request queued [1234] ok\r\n[5]", 1, "1234", ""},
      {"blank id", 200, "[ ]", 1, " ", ""},
      {"empty id", 200, "[]", 1, "", ""},
      {"unclosed", 200, "[1234", 0, "", kUnrecognized},
      {"error line", 200, "Gateway 2.1\r\nERROR: no free line\r\nretry later\r\n", 0, "",
       "ERROR: no free line"},
      {"error with id", 200, "ERROR: busy [9]", 1, "9", ""},
      {"other text", 200, "Service paused\r\nsecond line", 0, "", "Service paused"},
      {"LF only", 200, "Service paused\nsecond line", 0, "", "Service paused\nsecond line"},
      {"empty", 200, "", 0, "", ""},
      {"status 299", 299, "[3]", 1, "3", ""},
      {"status 300", 300, "[3]", 0, "", kUnreachable},
      {"status 404", 404, "[1234]", 0, "", kUnreachable},
      {"status 500", 500, "ERROR: crashed", 0, "", kUnreachable},
      {"id past 1024", 200, past1024, 0, "", std::string(1024, 'x')},
      {"bracket cut at 1024", 200, bracketCut, 0, "", kUnrecognized},
  };
  for (const AnswerCase& c : cases) {
    gateway::Answer answer;
    answer.status = c.status;
    answer.reason = "Whatever";
    answer.body = c.body;
    server_.SetAnswer(answer);
    const Posted o = Post();
    EXPECT_EQ(o.result, c.result) << c.name;
    EXPECT_EQ(o.requestId, c.requestId) << c.name;
    EXPECT_EQ(o.errorText, c.errorText) << c.name;
  }
}

TEST_F(GatewayClientTest, RefusedConnectionIsTold) {
  server_.Stop();
  const Posted o = Post();
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.requestId, "");
  EXPECT_EQ(o.errorText, kGatewayCannotConnectText);
}

// A host with a blank or a control character could not stand in the request's Host line: it is
// refused before anything is sent.
TEST_F(GatewayClientTest, AnUnusableHostIsRefusedAndNothingIsSent) {
  for (const char* host : {"", "gw example", "gw\r\nX-Injected: 1", "gw\x7f"}) {
    address_.host = host;
    const Posted o = Post();
    EXPECT_EQ(o.result, 0) << host;
    EXPECT_EQ(o.errorText, kGatewayBadHostText) << host;
  }
  EXPECT_EQ(server_.ConnectionCount(), 0u);
}

TEST_F(GatewayClientTest, BrokenExchangesAreTransportFailures) {
  using Mode = gateway::Answer::Mode;
  const struct {
    const char* name;
    Mode mode;
    std::string body;
    std::string errorText;
  } cases[] = {
      {"closed without answer", Mode::CloseWithoutAnswer, "[1]",
       "The Talmery Gateway closed the connection without an answer."},
      {"reset amid the body", Mode::ResetMidBody, std::string(2000, 'x') + "[5]", kGatewayBrokenText},
  };
  for (const auto& c : cases) {
    gateway::Answer answer;
    answer.mode = c.mode;
    answer.body = c.body;
    server_.SetAnswer(answer);
    const Posted o = Post();
    EXPECT_EQ(o.result, 0) << c.name;
    EXPECT_EQ(o.requestId, "") << c.name;
    EXPECT_EQ(o.errorText, c.errorText) << c.name;
  }
}

// The answer is read until it is complete (or 1024 bytes long), however it arrives: byte by byte,
// with or without a Content-Length.
TEST_F(GatewayClientTest, TrickledAnswerIsReadInTheOneRead) {
  for (const bool announceLength : {true, false}) {
    gateway::Answer answer;
    answer.mode = gateway::Answer::Mode::Trickle;
    answer.trickleDelayMs = 20;
    answer.body = "[1234]";
    answer.announceLength = announceLength;
    server_.SetAnswer(answer);
    const Posted o = Post();
    EXPECT_EQ(o.result, 1) << announceLength;
    EXPECT_EQ(o.requestId, "1234") << announceLength;
  }
}

// Takes the full 30 s deadline: a gateway that accepts and never answers must not block the agent
// for good.
TEST_F(GatewayClientTest, SilentGatewayTimesOut) {
  gateway::Answer answer;
  answer.mode = gateway::Answer::Mode::NeverAnswer;
  server_.SetAnswer(answer);
  const long long start = gateway::MonotonicMs();
  const Posted o = Post();
  const long long took = gateway::MonotonicMs() - start;
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.errorText, kGatewayTimedOutText);
  EXPECT_GE(took, 29000);
  EXPECT_LT(took, 90000);
}

// A name is resolved; "localhost" may give ::1 first, where nothing listens, and then 127.0.0.1.
TEST_F(GatewayClientTest, AHostNameIsResolved) {
  address_.host = "localhost";
  server_.SetAnswer({200, "OK", "[8]"});
  const Posted o = Post();
  EXPECT_EQ(o.result, 1) << o.errorText;
  EXPECT_EQ(o.requestId, "8");
}

}  // namespace
