#include "agent/calls/call_text.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  std::string in;
  std::string out;
};

TEST(FormUrlEncode, EncodesEachByteClass) {
  const Case cases[] = {
      {"", ""},
      {"AZaz09", "AZaz09"},
      {" ", "+"},
      {"-_.~*", "%2d%5f%2e%7e%2a"},
      {"\n", "%0a"},
      {"\t", "%09"},
      {std::string(1, '\0'), "%00"},
      {"\xE9", "%e9"},
      {"\xFF", "%ff"},
      {"Hi, it's", "Hi%2c+it%27s"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormUrlEncode(c.in), c.out) << c.in;
}

}  // namespace
