// Which numbers may be called: the patterns of the numbers setting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/number_patterns.h"

namespace talmery {
namespace {

TEST(NumberPatterns, WhichNumbersEachPatternTakes) {
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

}  // namespace
}  // namespace talmery
