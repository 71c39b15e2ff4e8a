#include "agent/calls/json_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(JsonValue, ReadsWhatTheGatewayWrites) {
  JsonValue v;
  ASSERT_TRUE(JsonValue::Parse(
      "{\n  \"id\": 12,\n  \"final\": true,\n  \"node\": null,\n  \"neg\": -9223372036854775808,\n"
      "  \"big\": 9223372036854775808,\n  \"frac\": 1.5e3,\n  \"text\": \"a\\\"b\\\\c\\/\\n\\u00e9\\ud83d\\ude00\xc3\xa9\",\n"
      "  \"history\": [ {\"outcome\": \"busy\"}, [] , {} ]\n}\n",
      v));
  EXPECT_EQ(v.Member("id")->IntegerOr(0), 12);
  EXPECT_TRUE(v.Member("final")->BoolOr(false));
  EXPECT_TRUE(v.Member("node")->IsNull());
  EXPECT_EQ(v.Member("neg")->IntegerOr(0), INT64_MIN);
  EXPECT_FALSE(v.Member("big")->IsInteger()) << "past long long: a number, no integer";
  EXPECT_FALSE(v.Member("frac")->IsInteger());
  EXPECT_EQ(v.Member("text")->StringOr(""), "a\"b\\c/\n\xc3\xa9\xf0\x9f\x98\x80\xc3\xa9");
  ASSERT_EQ(v.Member("history")->Items().size(), 3u);
  EXPECT_EQ(v.Member("history")->Items()[0].Member("outcome")->StringOr(""), "busy");
  EXPECT_EQ(v.Member("missing"), nullptr);
  EXPECT_EQ(v.Member("id")->Member("x"), nullptr) << "a number has no members";
  EXPECT_EQ(v.Member("id")->StringOr("other"), "other") << "of another kind";
}

// Whatever is not exactly one JSON value is refused whole, the value given untouched.
TEST(JsonValue, RefusesWhatIsNotStrictlyJson) {
  const std::string deep = std::string(JsonValue::kMaxDepth + 1, '[') + std::string(JsonValue::kMaxDepth + 1, ']');
  std::string many = "[";
  for (size_t i = 0; i < JsonValue::kMaxValues; ++i) many += "0,";
  many += "0]";
  const char* const plain[] = {
      "", " ", "[12]\r\nx", "ERROR: no such call", "{\"a\":1,}", "[1,]", "{\"a\" 1}", "{'a':1}", "{\"a\":1}{}",
      "{\"a\":1,\"a\":2}", "01", "-", "1.", ".5", "1e", "+1", "tru", "nul", "\"a", "\"\t\"", "\"\\x\"",
      "\"\\u12\"", "\"\\ud800\"", "\"\\udc00\"", "\"\\ud800\\u0041\"", "\"\xc0\xaf\"", "\"\xed\xa0\x80\"",
      "\"\xf4\x90\x80\x80\"", "\"\xc3\"", "[1] x", "NaN", "{\"a\":1", "[",
  };
  for (const std::string text : plain) {
    JsonValue v;
    ASSERT_TRUE(JsonValue::Parse("{\"kept\": 1}", v));
    EXPECT_FALSE(JsonValue::Parse(text, v)) << text;
    EXPECT_EQ(v.Member("kept")->IntegerOr(0), 1) << text;
  }
  JsonValue v;
  EXPECT_FALSE(JsonValue::Parse(deep, v)) << "deeper than kMaxDepth";
  EXPECT_TRUE(JsonValue::Parse(deep.substr(1, deep.size() - 2), v));
  EXPECT_FALSE(JsonValue::Parse(many, v)) << "more than kMaxValues";
  EXPECT_FALSE(JsonValue::Parse("\"" + std::string(JsonValue::kMaxTextBytes, 'a') + "\"", v));
}

}  // namespace
