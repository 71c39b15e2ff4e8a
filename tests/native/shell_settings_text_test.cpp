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

TEST(SettingsText, ValuesSetByPolicyAreMarkedAsTheAdministrators) {
  struct Case {
    bool host, port;
    const char* hostLine;
    const char* portLine;
  };
  const Case cases[] = {
      {true, false, "    Host: gw.corp (set by your administrator)\r\n", "    Port: 8200\r\n"},
      {false, true, "    Host: gw.corp\r\n", "    Port: 8200 (set by your administrator)\r\n"},
      {true, true, "    Host: gw.corp (set by your administrator)\r\n", "    Port: 8200 (set by your administrator)\r\n"},
  };
  for (const Case& c : cases) {
    SettingsSnapshot s{"gw.corp", 8200, "1", "Ann", "Lee", c.host, c.port};
    EXPECT_EQ(ComposeSettingsText(s), std::string("Talmery Gateway:\r\n") + c.hostLine + c.portLine +
                                          "Myself:\r\n    First Name: Ann\r\n    Last Name: Lee\r\n"
                                          "    My number: 1\r\n\r\n"
                                          "\tUse Menu File->Setup... to change the above settings.");
  }
}

}  // namespace
