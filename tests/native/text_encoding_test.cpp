#include "agent/calls/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// What the code page lacks is still spoken; a broken pair is one replacement character, never
// a cut text.
TEST(Utf16ToUtf8, EveryPlaneAndLoneSurrogates) {
  const struct {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"\u0141ukasz \u4e2d", "\xC5\x81ukasz \xE4\xB8\xAD"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},                            // a surrogate pair
      {std::u16string(1, char16_t(0xD83D)) + u"x", "\xEF\xBF\xBDx"},  // a high surrogate alone
      {std::u16string(1, char16_t(0xDE00)), "\xEF\xBF\xBD"},          // a low surrogate alone
  };
  for (const auto& c : cases) EXPECT_EQ(Utf16ToUtf8(c.in.data(), c.in.size()), c.out) << c.out;
}

}  // namespace
