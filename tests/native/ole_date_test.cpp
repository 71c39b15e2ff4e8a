#include "agent/outlook/ole_date.h"

#include <gtest/gtest.h>

#include <limits>

#include "agent/outlook/reminder_deadline.h"

namespace {

TEST(OleDate, FromFieldsMatchesAutomationDates) {
  struct Row {
    int y, mo, d, h, mi, s;
    double expected;
  };
  const Row rows[] = {
      {1899, 12, 30, 0, 0, 0, 0.0},
      {1899, 12, 31, 12, 0, 0, 1.5},
      {1900, 1, 1, 0, 0, 0, 2.0},
      {2000, 1, 1, 6, 0, 0, 36526.25},
      {2026, 12, 8, 10, 0, 0, 46364.0 + 10.0 / 24},
      {1899, 12, 29, 6, 0, 0, -1.25},  // before day 0 the time still runs forwards
      {9999, 12, 31, 0, 0, 0, 2958465.0},
  };
  for (const Row& row : rows) {
    const auto date = OleDateFromFields(row.y, row.mo, row.d, row.h, row.mi, row.s);
    ASSERT_TRUE(date.has_value()) << row.y << "-" << row.mo << "-" << row.d;
    EXPECT_NEAR(*date, row.expected, 1e-9) << row.y << "-" << row.mo << "-" << row.d;
  }
}

TEST(OleDate, ToSecondsIsLinearAcrossDayZero) {
  EXPECT_EQ(OleDateToSeconds(0.0), 0);
  EXPECT_EQ(OleDateToSeconds(1.5), 86400 + 43200);
  EXPECT_EQ(OleDateToSeconds(-1.25), -86400 + 21600);
  EXPECT_EQ(OleDateToSeconds(-0.5), 43200);  // -0.5 and 0.5 are the same moment
  EXPECT_EQ(OleDateToSeconds(*OleDateFromFields(2026, 12, 8, 10, 2, 0)) -
                OleDateToSeconds(*OleDateFromFields(2026, 12, 8, 10, 0, 0)),
            120);
  // Out of range and NaN are clamped, never undefined.
  EXPECT_EQ(OleDateToSeconds(1e300), OleDateToSeconds(*OleDateFromFields(9999, 12, 31, 23, 59, 59)));
  EXPECT_EQ(OleDateToSeconds(-1e300), OleDateToSeconds(*OleDateFromFields(100, 1, 1, 0, 0, 0)));
  EXPECT_EQ(OleDateToSeconds(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(OleDate, ParsesLocalTimestampsOfExactlyOneForm) {
  const auto date = ParseLocalTimestamp("2026-12-08 10:02:00");
  ASSERT_TRUE(date.has_value());
  EXPECT_NEAR(*date, *OleDateFromFields(2026, 12, 8, 10, 2, 0), 1e-12);
  EXPECT_TRUE(ParseLocalTimestamp("2024-02-29 23:59:59").has_value());

  const char* rejected[] = {
      "", "2026-12-08", "2026-12-08T10:02:00", "2026-12-08 10:02", "2026-12-08 10:02:00 ",
      " 2026-12-08 10:02:00", "2026-13-08 10:02:00", "2026-12-32 10:02:00", "2025-02-29 10:00:00",
      "2026-12-08 24:00:00", "2026-12-08 10:60:00", "2026-12-08 10:02:60", "2026-1x-08 10:02:00",
      "0099-12-08 10:02:00", "+026-12-08 10:02:00", "2026/12/08 10:02:00",
  };
  for (const char* text : rejected) EXPECT_FALSE(ParseLocalTimestamp(text).has_value()) << text;
}

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
