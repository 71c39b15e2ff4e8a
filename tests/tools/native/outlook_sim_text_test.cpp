// The simulator's pure helpers: local times and OLE dates, durations, UTF conversion, log texts
// and its command line.
#include <gtest/gtest.h>

#include "tools/outlook-sim/script/log_text.h"
#include "tools/outlook-sim/script/sim_options.h"
#include "tools/outlook-sim/script/sim_time.h"
#include "tools/outlook-sim/script/utf.h"

namespace sim {
namespace {

TEST(OutlookSimTime, CivilTimesMapToOleDates) {
  const struct {
    CivilTime t;
    double date;
  } cases[] = {
      {{1899, 12, 30, 0, 0, 0}, 0.0},
      {{1899, 12, 31, 12, 0, 0}, 1.5},
      {{1900, 3, 1, 0, 0, 0}, 61.0},
      {{2000, 1, 1, 6, 0, 0}, 36526.25},
      {{2026, 12, 8, 10, 15, 0}, 46364.0 + (10 * 3600 + 15 * 60) / 86400.0},
  };
  for (const auto& c : cases) {
    const int64_t s = CivilToSeconds(c.t);
    EXPECT_DOUBLE_EQ(SecondsToOleDate(s), c.date);
    const CivilTime back = SecondsToCivil(s);
    EXPECT_EQ(back.year, c.t.year);
    EXPECT_EQ(back.month, c.t.month);
    EXPECT_EQ(back.day, c.t.day);
    EXPECT_EQ(back.hour, c.t.hour);
    EXPECT_EQ(back.minute, c.t.minute);
  }
  EXPECT_EQ(FormatSeconds(CivilToSeconds({2024, 2, 29, 23, 59, 59})), "2024-02-29 23:59:59");
}

TEST(OutlookSimTime, RelativeAndAbsoluteTimes) {
  const struct {
    const char* text;
    bool relative;
    int64_t offset;
    const char* absolute;
  } cases[] = {
      {"+15m", true, 900, nullptr},   {"-2m", true, -120, nullptr}, {"-121s", true, -121, nullptr},
      {"+0s", true, 0, nullptr},      {"+1h", true, 3600, nullptr}, {"+2d", true, 172800, nullptr},
      {"2026-12-08 10:00:00", false, 0, "2026-12-08 10:00:00"},
      {"2026-12-08T23:59:59", false, 0, "2026-12-08 23:59:59"},
  };
  for (const auto& c : cases) {
    TimeSpec when;
    ASSERT_EQ(ParseTimeSpec(c.text, &when), "") << c.text;
    EXPECT_EQ(when.relative, c.relative) << c.text;
    if (c.relative) {
      EXPECT_EQ(when.offsetSeconds, c.offset) << c.text;
      EXPECT_EQ(Resolve(when, 1000), 1000 + c.offset);
    } else {
      EXPECT_EQ(FormatSeconds(Resolve(when, 1000)), c.absolute);
    }
  }
  for (const char* bad : {"", "+", "15m", "+m", "+1w", "+1000000000s", "2026-13-01 00:00:00",
                          "1899-12-31 00:00:00", "2026-12-08 24:00:00", "2026-12-08 10:00", "2026/12/08 10:00:00"}) {
    TimeSpec when;
    EXPECT_NE(ParseTimeSpec(bad, &when), "") << bad;
  }
}

TEST(OutlookSimTime, Durations) {
  int64_t ms = 0;
  EXPECT_EQ(ParseDurationMs("250ms", &ms), "");
  EXPECT_EQ(ms, 250);
  EXPECT_EQ(ParseDurationMs("0s", &ms), "");
  EXPECT_EQ(ms, 0);
  EXPECT_EQ(ParseDurationMs("2m", &ms), "");
  EXPECT_EQ(ms, 120000);
  EXPECT_EQ(ParseDurationMs("240h", &ms), "");
  EXPECT_EQ(ms, 864000000);
  for (const char* bad : {"", "ms", "5", "-5s", "1.5s", "241h", "9999999999s"}) {
    EXPECT_NE(ParseDurationMs(bad, &ms), "") << bad;
  }
}

TEST(OutlookSimUtf, RoundTripsAndRejectsMalformedInput) {
  std::u16string u16;
  ASSERT_TRUE(Utf8ToUtf16("a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", &u16));
  EXPECT_EQ(u16, (std::u16string{u'a', 0xE4, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(Utf16ToUtf8(u16), "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
  for (const char* bad : {"\x80", "\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80"}) {
    EXPECT_FALSE(Utf8ToUtf16(bad, &u16)) << bad;
  }
}

TEST(OutlookSimLogText, NamesQuotesAndDurations) {
  EXPECT_EQ(HresultName(0x80020003), "DISP_E_MEMBERNOTFOUND");
  EXPECT_EQ(HresultName(0), "S_OK");
  EXPECT_EQ(HresultName(0x80012345), "0x80012345");
  EXPECT_EQ(Hex32(0xF004), "0x0000F004");
  EXPECT_EQ(QuoteForLog(u"a\"b\\c\n\x01\u00E4"), "\"a\\\"b\\\\c\\n\\u{1}\xC3\xA4\"");
  EXPECT_EQ(FormatMs(3.14159), "3.142");
}

TEST(OutlookSimOptions, ServingRegistrationAndErrors) {
  SimOptions o;
  ASSERT_EQ(ParseSimOptions({"/script", "s.txt", "-LOG", "l.txt", "/linger", "7", "/noaddins", "-Embedding",
                             "/ribbonxml", "C:\\xml"},
                            &o),
            "");
  EXPECT_EQ(o.ribbonXmlFolder, "C:\\xml");
  EXPECT_EQ(o.mode, SimOptions::Mode::Serve);
  EXPECT_EQ(o.scriptFile, "s.txt");
  EXPECT_EQ(o.logFile, "l.txt");
  EXPECT_EQ(o.lingerSeconds, 7);
  EXPECT_TRUE(o.noAddins);
  EXPECT_TRUE(o.embedding);

  SimOptions r;
  ASSERT_EQ(ParseSimOptions({"/regserver", "/log", "C:\\a b\\l.txt", "/run", "quit"}, &r), "");
  EXPECT_EQ(r.mode, SimOptions::Mode::Register);
  EXPECT_EQ(r.serverArgs, (std::vector<std::string>{"/log", "C:\\a b\\l.txt", "/run", "quit"}));
  EXPECT_FALSE(r.force);
  // /force right after /regserver overwrites another program's class; it is no server option.
  SimOptions forced;
  ASSERT_EQ(ParseSimOptions({"/regserver", "/force", "/linger", "3"}, &forced), "");
  EXPECT_TRUE(forced.force);
  EXPECT_EQ(forced.serverArgs, (std::vector<std::string>{"/linger", "3"}));

  const struct {
    std::vector<std::string> args;
    const char* error;
  } bad[] = {
      {{"/script"}, "/script needs a file"},
      {{"/linger", "x"}, "/linger needs a number of seconds"},
      {{"/ribbonxml"}, "/ribbonxml needs a folder"},
      {{"/bogus"}, "unknown option '/bogus'"},
      {{"/log", "l", "/regserver"}, "/regserver must come first"},
      {{"/regserver", "/unregserver"}, "the options after /regserver must be serving options"},
      {{"/regserver", "-Embedding"}, "the options after /regserver must be serving options"},
      {{"/regserver", "/log", "l", "/force"}, "unknown option '/force'"},
      {{"/unregserver", "/log", "x"}, "/unregserver takes no other options"},
  };
  for (const auto& c : bad) {
    SimOptions x;
    EXPECT_EQ(ParseSimOptions(c.args, &x), c.error);
  }
}

TEST(OutlookSimOptions, QuotesArgumentsForTheCommandLine) {
  EXPECT_EQ(QuoteArgument("plain"), "plain");
  EXPECT_EQ(QuoteArgument(""), "\"\"");
  EXPECT_EQ(QuoteArgument("a b"), "\"a b\"");
  EXPECT_EQ(QuoteArgument("C:\\dir x\\"), "\"C:\\dir x\\\\\"");
  EXPECT_EQ(QuoteArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
}

}  // namespace
}  // namespace sim
