// The settings view's text.
#include <gtest/gtest.h>

#include "agent/shell/shell_text.h"

namespace {

TEST(SettingsText, FreshSettingsGiveNineLines) {
  SettingsSnapshot fresh{"localhost", 8155, "", "", ""};
  EXPECT_EQ(ComposeSettingsText(fresh),
            "Talmery Gateway:\r\n"
            "    Host: localhost\r\n"
            "    Port: 8155\r\n"
            "Myself:\r\n"
            "    First Name: \r\n"
            "    Last Name: \r\n"
            "    My number: \r\n"
            "\r\n"
            "\tUse Menu File->Setup... to change the above settings.");
}

TEST(SettingsText, ValuesGoToTheirLinesAsStored) {
  SettingsSnapshot s{"gw.example", -5, "(555) 010-0200", "Ann", "Lee & Co"};
  EXPECT_EQ(ComposeSettingsText(s),
            "Talmery Gateway:\r\n    Host: gw.example\r\n    Port: -5\r\n"
            "Myself:\r\n    First Name: Ann\r\n    Last Name: Lee & Co\r\n"
            "    My number: (555) 010-0200\r\n\r\n"
            "\tUse Menu File->Setup... to change the above settings.");
}

TEST(SettingsText, FormatCharactersInValuesStayLiteral) {
  SettingsSnapshot s{"%s%d%n", 2147483647, "%x", "%%", "\xE9"};
  const std::string text = ComposeSettingsText(s);
  EXPECT_NE(text.find("    Host: %s%d%n\r\n"), std::string::npos);
  EXPECT_NE(text.find("    Port: 2147483647\r\n"), std::string::npos);
  EXPECT_NE(text.find("    First Name: %%\r\n    Last Name: \xE9\r\n    My number: %x\r\n"),
            std::string::npos);
}

}  // namespace
