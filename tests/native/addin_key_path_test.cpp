#include "addin/key_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(AddinKeyPath, ComposesTheRegistrationKeys) {
  char out[1024];
  ASSERT_TRUE(ClassKeyPath("{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}", out, sizeof out));
  EXPECT_STREQ(out, "CLSID\\{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}");
  ASSERT_TRUE(OfficeAddinKeyPath("Outlook", "Brisomel.Addin", out, sizeof out));
  EXPECT_STREQ(out, "Software\\Microsoft\\Office\\Outlook\\Addins\\Brisomel.Addin");
}

TEST(AddinKeyPath, JoinsNonEmptyPartsWithOneBackslash) {
  struct Case {
    std::initializer_list<std::string_view> parts;
    const char* joined;
  };
  const Case cases[] = {
      {{"CLSID\\{x}", "InprocServer32"}, "CLSID\\{x}\\InprocServer32"},
      {{"Brisomel.Addin", ""}, "Brisomel.Addin"},
      {{"Brisomel.Addin"}, "Brisomel.Addin"},
      {{"", "a", "", "b"}, "a\\b"},
      {{}, ""},
  };
  for (const Case& c : cases) {
    char out[64];
    std::memset(out, '#', sizeof out);
    ASSERT_TRUE(JoinKeyPath(c.parts, out, sizeof out)) << c.joined;
    EXPECT_STREQ(out, c.joined);
  }
}

TEST(AddinKeyPath, RefusesWhatDoesNotFitAndLeavesTheBufferEmpty) {
  // "ab\cd" is 5 characters: it needs 6 bytes.
  char exact[6];
  ASSERT_TRUE(JoinKeyPath({"ab", "cd"}, exact, sizeof exact));
  EXPECT_STREQ(exact, "ab\\cd");

  char small[5];
  std::memset(small, '#', sizeof small);
  EXPECT_FALSE(JoinKeyPath({"ab", "cd"}, small, sizeof small));
  EXPECT_EQ(small[0], '\0');

  char tiny[2];
  EXPECT_FALSE(JoinKeyPath({"ab"}, tiny, sizeof tiny));
  EXPECT_EQ(tiny[0], '\0');
  EXPECT_FALSE(JoinKeyPath({"a"}, tiny, 0));

  const std::string longHost(1100, 'h');
  char out[1024];
  EXPECT_FALSE(OfficeAddinKeyPath(longHost, "Brisomel.Addin", out, sizeof out));
  EXPECT_EQ(out[0], '\0');
}

}  // namespace
