// What the settings view hands to DrawText: the text, its length, the rectangle and the flags.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/harness/registry.h"
#include "tests/shell/inprocess_shell.h"

namespace shelltest {
namespace {

using SettingsView = InProcessShell;

TEST_F(SettingsView, FreshSettingsDrawNineLinesTopLeftIn800By800Literally) {
  const std::vector<HWND> views = ActiveDocumentViews();
  ASSERT_EQ(views.size(), 1u);
  drawn_.clear();
  Repaint(views[0]);

  ASSERT_EQ(drawn_.size(), 1u);
  const DrawTextCall& call = drawn_[0];
  const std::string expected =
      "Talmery Gateway:\r\n    Host: localhost\r\n    Port: 8155\r\n"
      "Myself:\r\n    First Name: \r\n    Last Name: \r\n    My number: \r\n"
      "\r\n\tUse Menu File->Setup... to change the above settings.";
  EXPECT_EQ(call.window, views[0]);
  EXPECT_EQ(call.text, expected);
  EXPECT_EQ(call.count, static_cast<int>(expected.size()));
  EXPECT_EQ(call.rect.left, 0);
  EXPECT_EQ(call.rect.top, 0);
  EXPECT_EQ(call.rect.right, 800);
  EXPECT_EQ(call.rect.bottom, 800);
  // "&" drawn as itself, the tab expanded: what was typed is what is shown.
  EXPECT_EQ(call.format, static_cast<UINT>(DT_NOPREFIX | DT_EXPANDTABS));
  // Reading never creates the settings key.
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kSettingsKey));
}

TEST_F(SettingsView, EveryPaintReadsTheStoredSettingsAfresh) {
  const std::vector<HWND> views = ActiveDocumentViews();
  ASSERT_EQ(views.size(), 1u);
  Repaint(views[0]);
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "host", REG_SZ, harness::SzBytes("")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "port", REG_DWORD, harness::DwordBytes(0xFFFFFFFB)));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "mynumber", REG_SZ, harness::SzBytes("555")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "firstname", REG_SZ, harness::SzBytes("A&B")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "lastname", REG_SZ, harness::SzBytes("Lee")));
  drawn_.clear();
  Repaint(views[0]);

  ASSERT_EQ(drawn_.size(), 1u);
  EXPECT_EQ(drawn_[0].text,
            "Talmery Gateway:\r\n    Host: \r\n    Port: -5\r\n"
            "Myself:\r\n    First Name: A&B\r\n    Last Name: Lee\r\n    My number: 555\r\n"
            "\r\n\tUse Menu File->Setup... to change the above settings.");
}

// Below the settings, the reminder calls of this session as the hidden agent noted them, the
// newest last; values that are no call are passed over.
TEST_F(SettingsView, ListsTheRemindersCallsOfThisSessionBelowTheSettings) {
  harness::ScopedRegistryKey recent(HKEY_CURRENT_USER, "Software\\Brisomel\\Recent");
  const auto call = [](const std::string& text) { return std::vector<unsigned char>(text.begin(), text.end()); };
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, "Software\\Brisomel\\Recent", "gw:8155/2", REG_BINARY,
                                  call("1\t200\t2026-12-11 15:00\t5550100\tdelivered\tBudget review")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, "Software\\Brisomel\\Recent", "gw:8155/1", REG_BINARY,
                                  call("1\t100\t2026-12-11 14:30\t5550186\tbusy\tDentist")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, "Software\\Brisomel\\Recent", "other", REG_SZ,
                                  harness::SzBytes("not a call")));
  const std::vector<HWND> views = ActiveDocumentViews();
  ASSERT_EQ(views.size(), 1u);
  drawn_.clear();
  Repaint(views[0]);
  ASSERT_EQ(drawn_.size(), 1u);
  EXPECT_EQ(drawn_[0].text,
            "Talmery Gateway:\r\n    Host: localhost\r\n    Port: 8155\r\n"
            "Myself:\r\n    First Name: \r\n    Last Name: \r\n    My number: \r\n"
            "\r\n\tUse Menu File->Setup... to change the above settings.\r\n\r\nReminder calls of this session:\r\n"
            "    2026-12-11 14:30  Dentist, 5550186: busy\r\n    2026-12-11 15:00  Budget review, 5550100: delivered");
}

// Group policy's host and port are the ones shown, as the administrator's; the machine's policy wins
// over the user's policy, which wins over the user's own value.
TEST_F(SettingsView, ShowsTheHostAndPortThatPolicySetsAsTheAdministrators) {
  const char kPolicyKey[] = "Software\\Policies\\Brisomel\\tarnwick\\1.0";
  harness::ScopedRegistryKey machinePolicy(HKEY_LOCAL_MACHINE, kPolicyKey);
  harness::ScopedRegistryKey userPolicy(HKEY_CURRENT_USER, kPolicyKey);
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "host", REG_SZ, harness::SzBytes("own.example")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "port", REG_DWORD, harness::DwordBytes(1111)));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kPolicyKey, "host", REG_SZ, harness::SzBytes("user.policy")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kPolicyKey, "port", REG_DWORD, harness::DwordBytes(2222)));
  ASSERT_TRUE(harness::WriteValue(HKEY_LOCAL_MACHINE, kPolicyKey, "host", REG_SZ, harness::SzBytes("gw.corp")));
  const std::vector<HWND> views = ActiveDocumentViews();
  ASSERT_EQ(views.size(), 1u);
  drawn_.clear();
  Repaint(views[0]);

  ASSERT_EQ(drawn_.size(), 1u);
  EXPECT_EQ(drawn_[0].text,
            "Talmery Gateway:\r\n    Host: gw.corp (set by your administrator)\r\n"
            "    Port: 2222 (set by your administrator)\r\n"
            "Myself:\r\n    First Name: \r\n    Last Name: \r\n    My number: \r\n"
            "\r\n\tUse Menu File->Setup... to change the above settings.");
}

}  // namespace
}  // namespace shelltest
