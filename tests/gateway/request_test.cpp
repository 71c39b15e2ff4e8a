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

// The charset a request names, and the code pages its text is decoded from.
TEST(CallRequest, ContentTypeCharsets) {
  const struct {
    const char* type;
    bool ok;
    int codePage;
    const char* reason;
  } cases[] = {
      {"application/x-www-form-urlencoded", true, 0, ""},
      {"", true, 0, ""},
      {"application/x-www-form-urlencoded; charset=windows-1250", true, 1250, ""},
      {"Application/X-WWW-Form-URLEncoded;Charset=\"Windows-1251\"", true, 1251, ""},
      {"application/x-www-form-urlencoded; charset=cp1257", true, 1257, ""},
      {"application/x-www-form-urlencoded; charset=iso-8859-1", true, 1252, ""},
      {"application/x-www-form-urlencoded; charset=windows-9999", false, 0, "the charset windows-9999 is not known here"},
      {"application/x-www-form-urlencoded; charset=utf-8", true, 65001, ""},
      {"application/x-www-form-urlencoded; charset=koi8-r", false, 0, "the charset koi8-r is not known here"},
      {"text/plain; charset=windows-1250", false, 0, "the request body must be a URL-encoded form"},
  };
  for (const auto& c : cases) {
    int codePage = -1;
    std::string reason;
    EXPECT_EQ(ParseFormContentType(c.type, codePage, reason), c.ok) << c.type;
    if (c.ok) EXPECT_EQ(codePage, c.codePage) << c.type;
    else EXPECT_EQ(reason, c.reason) << c.type;
  }
}

TEST(CallRequest, CodePagesDecodeToUtf8) {
  const struct {
    int codePage;
    const char* bytes;
    const char* utf8;
  } cases[] = {
      {1250, "\xA3ukasz \x8A\xE8", "\xC5\x81ukasz \xC5\xA0\xC4\x8D"},           // Łukasz Šč
      {1251, "\xC8\xE2\xE0\xED", "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},           // Иван
      {1252, "\xA3ukasz \x80", "\xC2\xA3ukasz \xE2\x82\xAC"},                   // £ukasz €
      {1253, "\xC1\xE8\xDE\xED\xE1", "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1"},  // Αθήνα
      {1254, "\xDE\xFE\xD0", "\xC5\x9E\xC5\x9F\xC4\x9E"},                       // Şşĝ→Ğ
      {1257, "\xC0\xE0", "\xC4\x84\xC4\x85"},                                   // Ąą
      {1251, "a\x98z", "a\xEF\xBF\xBDz"},  // a byte 1251 leaves undefined
      {65001, "\xC5\x81 \xFF.\xC5", "\xC5\x81 \xEF\xBF\xBD.\xEF\xBF\xBD"},  // broken UTF-8 marked, not passed on
  };
  for (const auto& c : cases) {
    std::string utf8;
    ASSERT_TRUE(CodePageToUtf8(c.bytes, c.codePage, utf8)) << c.codePage;
    EXPECT_EQ(utf8, c.utf8) << c.codePage;
  }
  std::string utf8;
  EXPECT_FALSE(CodePageToUtf8("x", 9999, utf8));
  EXPECT_FALSE(CodePageKnown(9999));
}

}  // namespace
}  // namespace talmery
