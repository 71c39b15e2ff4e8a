#include "agent/calls/text_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Utf16ToUtf8, EveryPlaneAndLoneSurrogates) {
  const struct {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"Caf\u00e9", "Caf\xC3\xA9"},
      {u"\u0141ukasz \u4e2d", "\xC5\x81ukasz \xE4\xB8\xAD"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},               // a surrogate pair
      {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},  // zeros kept: dropping them is the caller's choice
      {std::u16string(1, char16_t(0xD83D)) + u"x", "\xEF\xBF\xBDx"},  // a high surrogate alone
      {std::u16string(1, char16_t(0xDE00)), "\xEF\xBF\xBD"},          // a low surrogate alone
  };
  for (const auto& c : cases) EXPECT_EQ(Utf16ToUtf8(c.in.data(), c.in.size()), c.out) << c.out;
}

// Every byte is passed once: a text that is no well-formed UTF-8 cannot stall or overrun a loop.
TEST(NextCodePoint, WellFormedSequencesAndOneByteForAnyOther) {
  const struct {
    std::string in;
    std::vector<char32_t> out;
  } cases[] = {
      {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", {U'a', 0xE9, 0x20AC, 0x1F600}},
      {"\x80z", {0xFFFD, U'z'}},                   // a stray continuation byte
      {"\xC0\xAF", {0xFFFD, 0xFFFD}},              // overlong
      {"\xE2\x82", {0xFFFD, 0xFFFD}},              // cut off at the end
      {"\xED\xA0\x80", {0xFFFD, 0xFFFD, 0xFFFD}},  // an encoded surrogate
      {"\xF4\x90\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},  // beyond U+10FFFF
  };
  for (const auto& c : cases) {
    std::vector<char32_t> seen;
    for (size_t at = 0; at < c.in.size();) seen.push_back(NextCodePoint(c.in, at));
    EXPECT_EQ(seen, c.out) << c.in;
  }
}

}  // namespace
