#include "agent/framework/ui/pure_text.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseDialogIntegerTest, AcceptsAnOptionallySignedNumberWithBlanksAround) {
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {{"8155", 8155},          {"8155 ", 8155},       {"-5", -5},
               {" +7\t", 7},            {"\t\t 12 \t", 12},    {"0", 0},
               {"-0", 0},               {"007", 7},            {"2147483647", 2147483647},
               {"-2147483648", INT32_MIN}, {"+00000000000000000001", 1}};
  for (const auto& c : cases) {
    const auto parsed = fw::ParseDialogInteger(c.text);
    ASSERT_TRUE(parsed.has_value()) << '"' << c.text << '"';
    EXPECT_EQ(*parsed, c.value) << '"' << c.text << '"';
  }
}

TEST(ParseDialogIntegerTest, RefusesEverythingElse) {
  const char* cases[] = {"",     " ",       "\t",    "abc",         "12ab",        "1 2",
                         "+",    "-",       "+-1",   "- 3",         "0x10",        "1.5",
                         "1e3",  "\n5",     "5\r\n", "2147483648",  "-2147483649", "99999999999999999999",
                         "١٢", "５"};
  for (const char* text : cases) EXPECT_FALSE(fw::ParseDialogInteger(text).has_value()) << '"' << text << '"';
}

TEST(ParseDialogIntegerTest, StopsAtAnEmbeddedNul) {
  EXPECT_FALSE(fw::ParseDialogInteger(std::string_view("12\0", 3)).has_value());
}

}  // namespace
