// Call requests as posted: what is accepted, with which values, and the reason for each refusal.
#include <gtest/gtest.h>

#include "gateway/call_request.h"

namespace talmery {
namespace {

const char kAgentBody[] =
    "calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=Hi%2c+this+is+Ann+Lee%27s+appointment+reminder+call+"
    "program%2e%0aYou+have+an+appointment+coming+up+in+15+minutes%2e%0aThe+appointment+subject+is%3a+Budget+review%0a";

TEST(CallRequest, TheAgentsBodyIsAcceptedAsSent) {
  CallRequest r;
  std::string reason;
  ASSERT_TRUE(ParseCallRequest(kAgentBody, r, reason)) << reason;
  EXPECT_EQ(r.number, "5550100");
  EXPECT_TRUE(r.selfDelete);
  EXPECT_EQ(r.firstOcc, 15);
  EXPECT_EQ(r.text,
            "Hi, this is Ann Lee's appointment reminder call program.\nYou have an appointment coming up in 15 "
            "minutes.\nThe appointment subject is: Budget review\n");
}

TEST(CallRequest, AcceptedVariants) {
  struct Case {
    std::string body, number, text;
    int firstOcc;
    bool selfDelete;
  } cases[] = {
      // Field order does not matter; unknown fields are ignored; a negative minute count stays.
      {"txt=a&phoneno=1&firstocc=-5&selfdelete=0&calltime=0&extra=1", "1", "a", -5, false},
      {"calltime=0&selfdelete=1&firstocc=0&phoneno=%2b49+(30)+123-45.6/7&txt=x", "+4930123456" "7", "x", 0, true},
      // Code page 1252: e acute, the euro sign, and an undefined byte.
      {"calltime=0&selfdelete=1&firstocc=1&phoneno=1&txt=caf%E9+%80+%81", "1", "caf\xC3\xA9 \xE2\x82\xAC \xEF\xBF\xBD", 1, true},
      {"calltime=0&selfdelete=1&firstocc=1&phoneno=" + std::string(32, '9') + "&txt=x", std::string(32, '9'), "x", 1, true},
      {"calltime=0&&selfdelete=1&firstocc=2147483647&phoneno=1&txt=" + std::string(kMaxTextBytes, 'a') + "&", "1",
       std::string(kMaxTextBytes, 'a'), 2147483647, true},
  };
  for (const Case& c : cases) {
    CallRequest r;
    std::string reason;
    ASSERT_TRUE(ParseCallRequest(c.body, r, reason)) << c.body.substr(0, 80) << ": " << reason;
    EXPECT_EQ(r.number, c.number);
    EXPECT_EQ(r.text, c.text);
    EXPECT_EQ(r.firstOcc, c.firstOcc);
    EXPECT_EQ(r.selfDelete, c.selfDelete);
  }
}

TEST(CallRequest, RefusalsNameTheReason) {
  const std::string ok = "calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=Hello";
  struct Case {
    std::string body, reason;
  } cases[] = {
      {"", "the field calltime is missing"},
      {"calltime=0&selfdelete=1&firstocc=15&txt=Hello", "the field phoneno is missing"},
      {"calltime=0&selfdelete=1&firstocc=15&phoneno=1", "the field txt is missing"},
      {ok + "&txt=again", "the field txt is given twice"},
      {"calltime=0&selfdelete=1&firstocc&phoneno=1&txt=x", "the request body is not a URL-encoded form (a field without '=')"},
      {"calltime=0&selfdelete=1&firstocc=1&phoneno=1&txt=100%", "the request body is not a URL-encoded form (a '%' without two hex digits)"},
      {"calltime=0&selfdelete=1&firstocc=1&phoneno=1&txt=%g1", "the request body is not a URL-encoded form (a '%' without two hex digits)"},
      {"calltime=5&selfdelete=1&firstocc=15&phoneno=1&txt=x", "calltime must be 0: calls at a later time are not supported"},
      {"calltime=now&selfdelete=1&firstocc=15&phoneno=1&txt=x", "calltime is not a whole number"},
      {"calltime=0&selfdelete=yes&firstocc=15&phoneno=1&txt=x", "selfdelete must be 0 or 1"},
      {"calltime=0&selfdelete=1&firstocc=1.5&phoneno=1&txt=x", "firstocc is not a whole number"},
      {"calltime=0&selfdelete=1&firstocc=2147483648&phoneno=1&txt=x", "firstocc is not a whole number"},
      {"calltime=0&selfdelete=1&firstocc=15&phoneno=+-()&txt=x", "the phone number has no digits"},
      {"calltime=0&selfdelete=1&firstocc=15&phoneno=&txt=x", "the phone number has no digits"},
      {"calltime=0&selfdelete=1&firstocc=15&phoneno=555-CALL&txt=x", "phoneno holds characters other than digits"},
      {"calltime=0&selfdelete=1&firstocc=15&phoneno=1%3b2&txt=x", "phoneno holds characters other than digits"},
      {"calltime=0&selfdelete=1&firstocc=15&phoneno=" + std::string(33, '1') + "&txt=x", "the phone number is longer than 32 digits"},
      {"calltime=0&selfdelete=1&firstocc=15&phoneno=1&txt=" + std::string(kMaxTextBytes + 1, 'a'), "the text is longer than 64 KB"},
      {"calltime=0&selfdelete=1&firstocc=15&phoneno=1&txt=a%00b", "the text holds a NUL byte"},
      {"calltime=0&selfdelete=1&firstocc=15&phoneno=1&txt=+%0a%09", "the text is empty"},
      // Nothing espeak-ng would say: punctuation, control characters, an undefined byte of 1252
      // (U+FFFD), a no-break space, guillemets.
      {"calltime=0&selfdelete=1&firstocc=15&phoneno=1&txt=%01%1b...+!%3f+%81%a0%ab%bb",
       "the text has nothing to speak (no letter or digit)"},
      // The name is the client's: cut, and shown so that it cannot break the answer's line.
      {"calltime=0&selfdelete=1&firstocc=15&phoneno=1&txt=a&%0d%0aX" + std::string(50, 'y') + "=1&%0d%0aX" +
           std::string(50, 'y') + "=2", "the field \\r\\nX" + std::string(37, 'y') + "... is given twice"},
  };
  for (const Case& c : cases) {
    CallRequest r;
    std::string reason;
    EXPECT_FALSE(ParseCallRequest(c.body, r, reason)) << c.body.substr(0, 80);
    EXPECT_EQ(reason, c.reason) << c.body.substr(0, 80);
  }
}

// What the speech engine gets, and what counts as something to say.
TEST(CallRequest, SpeechTextLosesControlCharacters) {
  const struct {
    std::string text, speakable;
    bool something;
  } cases[] = {
      {"Meet\tAnn\r\nat 9", "Meet\tAnn\r\nat 9", true},
      {"a\x01" "0A b\x1b[31m\x7f", "a 0A b [31m ", true},
      {"caf\xC3\xA9 \xC2\x9B" "1m", "caf\xC3\xA9  1m", true},  // C1 CSI as UTF-8
      {"\xff\xC3", "  ", false},      // not UTF-8
      {"\xC3\xA9", "\xC3\xA9", true},  // a letter beyond ASCII
      // A dash, the ideographic full stop, the byte order mark.
      {"\xE2\x80\x94 \xE3\x80\x82 \xEF\xBB\xBF", "\xE2\x80\x94 \xE3\x80\x82 \xEF\xBB\xBF", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SpeakableText(c.text), c.speakable) << c.text;
    EXPECT_EQ(HasSomethingToSay(c.text), c.something) << c.text;
  }
}

}  // namespace
}  // namespace talmery
