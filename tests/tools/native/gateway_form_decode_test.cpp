#include <gtest/gtest.h>

#include "common/url_form.h"
#include "tools/gateway/form.h"

namespace {

TEST(GatewayFormUrlDecode, DecodesEscapesOfEitherCaseAndPlus) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"a+b", "a b"},
      {"%2c%2C", ",,"},
      {"%0a%0D", "\n\r"},
      {"%e9%FF%00", std::string("\xE9\xFF\0", 3)},
      {"%2b", "+"},
      {"100%", "100%"},        // no digits after '%': kept
      {"%4", "%4"},            // one digit only: kept
      {"%zz%4g", "%zz%4g"},    // not hex: kept
      {"%%41", "%A"},          // the first '%' is kept, the second starts an escape
      {"Hi%2c+this+is+Ann+Lee%27s%0a", "Hi, this is Ann Lee's\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(gateway::FormUrlDecode(c.first), c.second) << c.first;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

TEST(GatewayParseForm, SplitsNamesAndValues) {
  const std::pair<std::string, Fields> cases[] = {
      {"", {}},
      {"a=1", {{"a", "1"}}},
      {"calltime=0&selfdelete=1&firstocc=-5&phoneno=5550100&txt=Hi%2c+you%0a",
       {{"calltime", "0"}, {"selfdelete", "1"}, {"firstocc", "-5"}, {"phoneno", "5550100"},
        {"txt", "Hi, you\n"}}},
      {"a=&b", {{"a", ""}, {"b", ""}}},
      {"a=1&&b=2&", {{"a", "1"}, {"b", "2"}}},
      {"x=1=2", {{"x", "1=2"}}},                 // only the first '=' splits
      {"x=%26&y=%3d", {{"x", "&"}, {"y", "="}}},  // encoded separators are data
      {"k+1=v+1&k=2&k=3", {{"k 1", "v 1"}, {"k", "2"}, {"k", "3"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(gateway::ParseForm(c.first), c.second) << c.first;
}

TEST(GatewayParseForm, FormFieldTakesTheFirstOfDuplicates) {
  Fields f = gateway::ParseForm("k=2&k=3&e=");
  EXPECT_EQ(gateway::FormField(f, "k"), "2");
  EXPECT_EQ(gateway::FormField(f, "e"), "");
  EXPECT_EQ(gateway::FormField(f, "missing"), "");
}

TEST(UrlForm, ConvertsCodePage1252ToUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"\xE9", "\xC3\xA9"},
      {"\xFF", "\xC3\xBF"},
      {"\x80", "\xE2\x82\xAC"},  // euro sign
      {"\x92", "\xE2\x80\x99"},  // right single quote
      {"\x81", "\xEF\xBF\xBD"},  // undefined in 1252
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(urlform::Cp1252ToUtf8(c.first), c.second);
}

TEST(GatewayParseForm, TheCharsetOfTheContentType) {
  const std::pair<const char*, unsigned> cases[] = {
      {"application/x-www-form-urlencoded; charset=windows-1250", 1250},
      {"application/x-www-form-urlencoded;Charset=\"Windows-1251\"", 1251},
      {"application/x-www-form-urlencoded; charset=utf-8", 65001},
      {"application/x-www-form-urlencoded", 0},
      {"application/x-www-form-urlencoded; charset=iso-8859-2", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(gateway::FormCodePage(c.first), c.second) << c.first;
}

}  // namespace
