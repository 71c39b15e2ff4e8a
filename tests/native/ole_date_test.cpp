#include "agent/calls/ole_date.h"

#include <gtest/gtest.h>

#include <limits>

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

}  // namespace
