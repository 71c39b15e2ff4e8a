// The settings key as the agent, the add-in and the tools name it, and the installer's own copy
// of it (installer/*.nsh, read from the source tree): the same key, values and defaults, so that
// what setup writes is what the programs read.
#include "common/settings_key.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string InstallerFile(const char* name) {
  std::ifstream in(std::string(BRISOMEL_SOURCE_ROOT) + "/installer/" + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SettingsKey, PathIsTheOneTheUsersHaveTodayInBothWidths) {
  EXPECT_STREQ(settings_key::kPath, "Software\\Brisomel\\tarnwick\\1.0");
  EXPECT_STREQ(settings_key::kPathW, L"Software\\Brisomel\\tarnwick\\1.0");
}

TEST(SettingsKey, InstallerWritesTheSameKeyValuesAndDefaults) {
  const std::string product = InstallerFile("product.nsh");
  ASSERT_FALSE(product.empty());
  EXPECT_NE(product.find(std::string("!define SETTINGS_KEY \"") + settings_key::kPath + "\"\n"), std::string::npos)
      << product;

  const std::string settings = InstallerFile("settings.nsh");
  ASSERT_FALSE(settings.empty());
  const std::string lines[] = {
      std::string("WriteRegStr HKCU \"${SETTINGS_KEY}\" ") + settings_key::kHost + " " + settings_key::kDefaultHost,
      std::string("WriteRegDWORD HKCU \"${SETTINGS_KEY}\" ") + settings_key::kPort + " " +
          std::to_string(settings_key::kDefaultPort),
      std::string("WriteRegStr HKCU \"${SETTINGS_KEY}\" ") + settings_key::kMyNumber + " \"\"",
      std::string("WriteRegStr HKCU \"${SETTINGS_KEY}\" ") + settings_key::kFirstName + " \"\"",
      std::string("WriteRegStr HKCU \"${SETTINGS_KEY}\" ") + settings_key::kLastName + " \"\"",
      std::string("WriteRegStr HKCU \"${SETTINGS_KEY}\" ") + settings_key::kProgramPath + " ",
  };
  for (const std::string& line : lines) EXPECT_NE(settings.find(line), std::string::npos) << line;
}

}  // namespace
