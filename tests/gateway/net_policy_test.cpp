// Who may post, which numbers, how many, which code page: the rules apart from any socket.
#include "gateway/addresses.h"
#include "gateway/admission.h"
#include "gateway/call_request.h"
#include "gateway/number_patterns.h"

#include <gtest/gtest.h>

namespace talmery {
namespace {

TEST(NetPolicy, AddressesMatchTheirBlocks) {
  const struct {
    const char* block;
    const char* address;
    bool in;
  } cases[] = {
      {"192.0.2.0/24", "192.0.2.255", true},    {"192.0.2.0/24", "192.0.3.0", false},
      {"10.1.2.3/16", "10.1.200.9", true},      {"10.0.0.0/9", "10.127.0.1", true},
      {"10.0.0.0/9", "10.128.0.1", false},      {"127.0.0.1", "127.0.0.1", true},
      {"127.0.0.1", "127.0.0.2", false},        {"0.0.0.0/0", "203.0.113.5", true},
      {"0.0.0.0/0", "2001:db8::1", false},      {"2001:db8::/32", "2001:db8:ffff::1", true},
      {"2001:db8::/32", "2001:db9::1", false},  {"::1", "::1", true},
      {"192.0.2.0/24", "::ffff:192.0.2.9", true},  // a v4 client on a dual-stack socket
      {"fe80::/10", "febf::1", true},           {"fe80::/10", "fec0::1", false},
  };
  for (const auto& c : cases) {
    AddressBlock block;
    Address16 address;
    std::string error;
    ASSERT_TRUE(ParseAddressBlock(c.block, block, error)) << error;
    ASSERT_TRUE(ParseAddress(c.address, address)) << c.address;
    EXPECT_EQ(InBlock(address, block), c.in) << c.block << " " << c.address;
  }
  std::vector<AddressBlock> list;
  std::string error;
  ASSERT_TRUE(ParseAddressBlocks("192.0.2.0/24, 2001:db8::/32  10.0.0.1", list, error)) << error;
  EXPECT_EQ(list.size(), 3u);
  EXPECT_FALSE(ParseAddressBlocks("192.0.2.0/24, 300.1.1.1", list, error));
  EXPECT_EQ(error, "\"300.1.1.1\" is not an IPv4 or IPv6 address or block");
  for (const char* host : {"127.0.0.1", "127.3.0.1", "::1", "[::1]", "localhost"}) EXPECT_TRUE(IsLoopbackHost(host)) << host;
  for (const char* host : {"0.0.0.0", "::", "[::]", "192.0.2.10", "pbx"}) EXPECT_FALSE(IsLoopbackHost(host)) << host;
}

TEST(NetPolicy, NumberPatterns) {
  const struct {
    const char* pattern;
    const char* number;
    bool match;
  } cases[] = {
      {"2???", "2345", true},        {"2???", "234", false},        {"2???", "23456", false},
      {"0[1-9]*", "0301234567", true}, {"0[1-9]*", "00441234", false}, {"0[1-9]*", "0", false},
      {"0[!09]*", "0812", true},     {"0[!09]*", "0900123", false}, {"*", "+4930123", true},
      {"+49*", "+4930123", true},    {"+49*", "4930123", false},    {"1*2*3", "1002003", true},
      {"1*2*3", "10020034", false},  {"[13579]", "7", true},        {"[13579]", "8", false},
      {"0900*", "0900", true},       {"*0", "1230", true},          {"**1", "1", true},
  };
  for (const auto& c : cases) EXPECT_EQ(GlobMatch(c.pattern, c.number), c.match) << c.pattern << " " << c.number;
  std::vector<std::string> patterns;
  std::string error;
  ASSERT_TRUE(ParseNumberPatterns("2???, 0[1-9]*", patterns, error)) << error;
  EXPECT_TRUE(NumberAllowed(patterns, "2001"));
  EXPECT_TRUE(NumberAllowed(patterns, "0301234"));
  EXPECT_FALSE(NumberAllowed(patterns, "00491234"));
  EXPECT_TRUE(NumberAllowed({}, "00491234"));  // no patterns: every number
  // The company PBX example of the README and the example settings.
  ASSERT_TRUE(ParseNumberPatterns("[2-9]??, [2-4]???, 0[2-8]*, 01[5-7]*", patterns, error)) << error;
  for (const char* allowed : {"250", "999", "2000", "4999", "0301234567", "08912345", "01701234567"})
    EXPECT_TRUE(NumberAllowed(patterns, allowed)) << allowed;
  for (const char* refused : {"112", "110", "11833", "5000", "0044201234", "09001234567", "01371234", "01805123", "+4930123"})
    EXPECT_FALSE(NumberAllowed(patterns, refused)) << refused;
  // A pattern built to make a naive matcher back-track exponentially is still quick.
  EXPECT_FALSE(GlobMatch("*1*1*1*1*1*1*1*1*2", std::string(32, '1')));
}

TEST(NetPolicy, ContentTypeCharsets) {
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

TEST(NetPolicy, CodePagesDecodeToUtf8) {
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

TEST(NetPolicy, AdmissionLimits) {
  const long long t = 1700000000000;
  const struct {
    AdmissionLimits limits;
    long long waiting;
    int admitted;  // of 5 tries from one address at the same moment
    const char* reason;
    Refusal kind;
  } cases[] = {
      {{2, 0, 0}, 0, 2, "more than 2 calls a minute from 192.0.2.1: try again in a minute", Refusal::ClientRate},
      {{0, 3, 0}, 0, 3, "the gateway has taken its 3 calls of the last 24 hours", Refusal::DailyCalls},
      {{0, 0, 10}, 10, 0, "10 calls are waiting already: try again later", Refusal::QueueFull},
      {{0, 0, 0}, 99, 5, "", Refusal::BadRequest},
  };
  for (const auto& c : cases) {
    Admission admission(c.limits);
    int admitted = 0;
    std::string reason;
    Refusal kind = Refusal::BadRequest;
    for (int i = 0; i < 5; ++i) admitted += admission.TryAdmit("192.0.2.1", t, c.waiting, reason, kind) ? 1 : 0;
    EXPECT_EQ(admitted, c.admitted);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(RefusalLabel(kind), std::string(RefusalLabel(c.kind)));
  }
  // The windows move on: a minute later the address may post again; the day counts on.
  Admission admission({2, 3, 0});
  std::string reason;
  Refusal kind;
  admission.Seed({t - 25LL * 3600 * 1000, t - 3600 * 1000});  // one still inside the 24 hours
  EXPECT_TRUE(admission.TryAdmit("a", t, 0, reason, kind));
  EXPECT_TRUE(admission.TryAdmit("a", t, 0, reason, kind));
  EXPECT_FALSE(admission.TryAdmit("a", t + 59999, 0, reason, kind));
  EXPECT_FALSE(admission.TryAdmit("b", t + 60000, 0, reason, kind));  // the day is full
  EXPECT_EQ(reason, "the gateway has taken its 3 calls of the last 24 hours");
  admission.Released("a", t + 60000);  // one of a's calls was not stored after all
  EXPECT_TRUE(admission.TryAdmit("b", t + 60000, 0, reason, kind));
  admission.Refused("c", t);
  const std::vector<ClientActivity> activity = admission.Activity(t + 60000);
  ASSERT_EQ(activity.size(), 3u);
  EXPECT_EQ(activity[0].address, "a");  // 1 accepted (one released), 2 refused
  EXPECT_EQ(activity[0].accepted, 1);
  EXPECT_EQ(activity[0].refused, 2);
  EXPECT_EQ(activity[1].address, "b");
  EXPECT_EQ(activity[1].accepted, 1);
  EXPECT_EQ(activity[1].refused, 1);
  EXPECT_EQ(activity[2].address, "c");
  // A day later all of it has gone.
  EXPECT_TRUE(admission.Activity(t + 25LL * 3600 * 1000).empty());
}

}  // namespace
}  // namespace talmery
