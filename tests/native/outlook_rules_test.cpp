#include <climits>
#include <gtest/gtest.h>
#include <limits>

#include "agent/outlook/outlook_rules.h"

namespace {

TEST(ReminderDeadline, TwoMinutesAfterTheStartIsTheLastMoment) {
  const double start = *OleDateFromFields(2026, 12, 8, 10, 0, 0);
  struct Row {
    int h, mi, s;
    bool tooLate;
  };
  const Row rows[] = {
      {9, 45, 0, false},   // the usual case: reminder before the start
      {10, 0, 0, false},
      {10, 1, 59, false},
      {10, 2, 0, false},   // exactly two minutes past
      {10, 2, 1, true},    // one second later
      {11, 0, 0, true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsTooLateForReminderCall(start, *OleDateFromFields(2026, 12, 8, row.h, row.mi, row.s)), row.tooLate)
        << row.h << ":" << row.mi << ":" << row.s;
  }
  // Across midnight and before day zero.
  EXPECT_FALSE(IsTooLateForReminderCall(*OleDateFromFields(2026, 12, 8, 23, 59, 0),
                                        *OleDateFromFields(2026, 12, 9, 0, 1, 0)));
  EXPECT_TRUE(IsTooLateForReminderCall(*OleDateFromFields(1899, 12, 29, 23, 59, 0),
                                       *OleDateFromFields(1899, 12, 30, 0, 1, 1)));
  // A start read from Outlook with a fraction of a second counts to the nearest second.
  EXPECT_FALSE(IsTooLateForReminderCall(start + 0.4 / 86400, *OleDateFromFields(2026, 12, 8, 10, 2, 0)));
}

}  // namespace

namespace {

TEST(OutlookMajorVersion, ParsesTheNumberBeforeTheFirstDot) {
  struct Row {
    const char* version;
    bool parsed;
    int major;
  };
  const Row rows[] = {
      {"9.0.0.2711", true, 9},
      {"16.0.0.1", true, 16},
      {"8.5", true, 8},
      {"  12.0", true, 12},     // leading white space is skipped
      {"\t+10.1", true, 10},    // and a sign allowed
      {"-3.1", true, -3},
      {"9x.5", true, 9},        // the digits end at the first other character
      {"11 .0", true, 11},
      {"99999999999.0", true, INT_MAX},   // saturates instead of overflowing
      {"-99999999999.0", true, INT_MIN},
      {".5", false, 0},         // nothing before the dot
      {"x.5", false, 0},
      {" .5", false, 0},
      {"+.5", false, 0},
      {"9", false, 0},          // no dot at all
      {"", false, 0},
      {"16,0", false, 0},
  };
  for (const Row& row : rows) {
    const std::optional<int> major = ParseOutlookMajorVersion(row.version);
    EXPECT_EQ(major.has_value(), row.parsed) << row.version;
    if (row.parsed && major) {
      EXPECT_EQ(*major, row.major) << row.version;
    }
  }
}

TEST(OutlookMajorVersion, TextAfterAnEmbeddedZeroIsNotPartOfTheNumber) {
  EXPECT_EQ(ParseOutlookMajorVersion(std::string("9\0" "1.0", 5)), std::optional<int>(9));
}

}  // namespace

namespace {

TEST(OutlookRetry, OnlyABusyOrStartingOutlookIsTriedAgain) {
  const struct {
    uint32_t hresult;
    bool transient;
  } rows[] = {
      {0x80010001u, true},   // RPC_E_CALL_REJECTED
      {0x8001010Au, true},   // RPC_E_SERVERCALL_RETRYLATER
      {0x80080005u, true},   // CO_E_SERVER_EXEC_FAILURE
      {0x8000401Au, true},   // CO_E_APPDIDNTREG
      {0x800706BAu, true},   // RPC_S_SERVER_UNAVAILABLE
      {0x800706BBu, true},   // RPC_S_SERVER_TOO_BUSY
      {0x80040154u, false},  // REGDB_E_CLASSNOTREG: no Outlook installed
      {0x800401F3u, false},  // CO_E_CLASSSTRING: no such ProgID
      {0x80070005u, false},  // E_ACCESSDENIED
      {0x80020009u, false},  // DISP_E_EXCEPTION
      {0x80004005u, false},  // E_FAIL
      {0u, false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsTransientOutlookFailure(row.hresult), row.transient) << std::hex << row.hresult;
}

TEST(OutlookRetry, PausesGrowToTwoSecondsWithinTheBudget) {
  const uint32_t expected[] = {250, 500, 1000, 2000, 2000, 2000};
  uint32_t total = 0;
  for (int retry = 1; retry <= 6; ++retry) {
    EXPECT_EQ(OutlookRetryDelayMs(retry), expected[retry - 1]) << retry;
    total += OutlookRetryDelayMs(retry);
  }
  EXPECT_EQ(OutlookRetryDelayMs(1000), 2000u);
  EXPECT_LT(total, kOutlookRetryBudgetMs);  // several tries fit before giving up
}

}  // namespace

namespace {

TEST(OutlookConnection, OnlyAGoneOrDisconnectedOutlookCountsAsLost) {
  const struct {
    uint32_t hresult;
    bool lost;
  } rows[] = {
      {0x80010108u, true},   // RPC_E_DISCONNECTED
      {0x800706BAu, true},   // RPC_S_SERVER_UNAVAILABLE
      {0x800706BEu, true},   // RPC_S_CALL_FAILED
      {0x80010007u, true},   // RPC_E_SERVER_DIED
      {0x80010012u, true},   // RPC_E_SERVER_DIED_DNE
      {0x800401FDu, true},   // CO_E_OBJNOTCONNECTED
      {0x80010001u, false},  // RPC_E_CALL_REJECTED: busy, not gone
      {0x8001010Au, false},  // RPC_E_SERVERCALL_RETRYLATER
      {0x80004004u, false},  // E_ABORT: the guard's refusal
      {0x80020009u, false},  // DISP_E_EXCEPTION
      {0u, false},
  };
  for (const auto& row : rows) EXPECT_EQ(IsOutlookConnectionLost(row.hresult), row.lost) << std::hex << row.hresult;
}

TEST(ObjectModelGuard, OnlyOperationAbortedIsTheGuardsRefusal) {
  EXPECT_TRUE(IsObjectModelGuardRefusal(0x80004004u));
  for (uint32_t other : {0x80004005u, 0x80020009u, 0x80070005u, 0x80010108u, 0u}) {
    EXPECT_FALSE(IsObjectModelGuardRefusal(other)) << std::hex << other;
  }
}

TEST(StartupReminders, DueFromOutlooksStartUntilNowToTheSecond) {
  const double started = *OleDateFromFields(2026, 12, 9, 8, 0, 0);
  const double now = *OleDateFromFields(2026, 12, 9, 8, 0, 30);
  const struct {
    int second;
    bool due;
  } rows[] = {{-1, false}, {0, true}, {15, true}, {30, true}, {31, false}};
  for (const auto& row : rows) {
    const double at = started + row.second / 86400.0;
    EXPECT_EQ(CameDueSinceStart(at, started, now), row.due) << row.second;
  }
}

TEST(OutlookServer, TheProgramOfALocalServerCommandLine) {
  const struct {
    const wchar_t* command;
    const wchar_t* program;
  } rows[] = {
      {LR"("C:\Program Files\Office\OUTLOOK.EXE" /automation)", LR"(C:\Program Files\Office\OUTLOOK.EXE)"},
      {LR"(C:\Program Files\Office\OUTLOOK.EXE /automation -Embedding)", LR"(C:\Program Files\Office\OUTLOOK.EXE)"},
      {LR"(C:\PROGRA~1\MICROS~1\OUTLOOK.EXE)", LR"(C:\PROGRA~1\MICROS~1\OUTLOOK.EXE)"},
      {LR"(  Z:\sim\outlook-sim.exe /log Z:\a.exe.log)", LR"(Z:\sim\outlook-sim.exe)"},
      {LR"(C:\my.exes\server /x)", LR"(C:\my.exes\server)"},
      {LR"("C:\unterminated)", L""},
      {L"   ", L""},
  };
  for (const auto& row : rows) EXPECT_EQ(ServerExecutable(row.command), row.program);
}

}  // namespace
