#include "agent/outlook/outlook_version.h"

#include <gtest/gtest.h>

#include <climits>

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
    int major = 12345;
    EXPECT_EQ(ParseOutlookMajorVersion(row.version, &major), row.parsed) << row.version;
    if (row.parsed) {
      EXPECT_EQ(major, row.major) << row.version;
    }
  }
}

TEST(OutlookMajorVersion, TextAfterAnEmbeddedZeroIsNotPartOfTheNumber) {
  int major = 0;
  EXPECT_TRUE(ParseOutlookMajorVersion(std::string("9\0" "1.0", 5), &major));
  EXPECT_EQ(major, 9);
}

}  // namespace
