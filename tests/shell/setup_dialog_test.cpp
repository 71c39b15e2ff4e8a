// File > Setup in the real program: what the dialog shows, what OK and Cancel store, how a port
// that is not an integer is refused, and in which order the five settings are stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/framework/afx_ids.h"
#include "agent/framework/handles.h"
#include "tests/harness/message_box_watcher.h"
#include "tests/harness/registry.h"
#include "tests/shell/installed_cadelo.h"
#include "tests/shell/windows_under_test.h"

namespace shelltest {
namespace {

using harness::DwordBytes;
using harness::ReadValue;
using harness::RegValue;
using harness::SzBytes;

constexpr int kWaitMs = 15000;
constexpr UINT kSetupCommand = 32771;
const char* const kSettingNames[] = {"host", "port", "mynumber", "firstname", "lastname"};

struct Entered {
  std::string host, port, myNumber, firstName, lastName;
};

void Enter(HWND dialog, const Entered& e) {
  SetItemText(dialog, 1000, e.host);
  SetItemText(dialog, 1001, e.port);
  SetItemText(dialog, 1002, e.myNumber);
  SetItemText(dialog, 1003, e.firstName);
  SetItemText(dialog, 1004, e.lastName);
}

std::vector<RegValue> StoredSettings() {
  std::vector<RegValue> values;
  for (const char* name : kSettingNames) values.push_back(ReadValue(HKEY_CURRENT_USER, kSettingsKey, name));
  return values;
}

void ExpectSameSettings(const std::vector<RegValue>& a, const std::vector<RegValue>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].exists, b[i].exists) << kSettingNames[i];
    EXPECT_EQ(a[i].type, b[i].type) << kSettingNames[i];
    EXPECT_EQ(a[i].bytes, b[i].bytes) << kSettingNames[i];
  }
}

// One running program with known settings stored before its start.
class SetupDialog : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(install_.Ready());
    Store("host", REG_SZ, SzBytes("gw.example"));
    Store("port", REG_DWORD, DwordBytes(1234));
    Store("mynumber", REG_SZ, SzBytes("555 0100"));
    Store("firstname", REG_SZ, SzBytes("Ann"));
    Store("lastname", REG_SZ, SzBytes("Lee"));
    program_ = install_.Start();
    ASSERT_TRUE(program_.Started());
    frame_ = WaitForMainFrame(program_.Pid(), kWaitMs);
    ASSERT_NE(frame_, nullptr);
    ASSERT_TRUE(WaitForAddinRegistrations(1, kWaitMs));
  }

  void TearDown() override {
    if (frame_ && program_.Running()) {
      EXPECT_TRUE(ExitThroughMenu(program_.Handle(), frame_, kWaitMs));
      EXPECT_EQ(program_.ExitCode(), 0u);
    }
  }

  static void Store(const char* name, DWORD type, const std::vector<unsigned char>& bytes) {
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, name, type, bytes));
  }

  HWND OpenSetup() {
    PostMessageA(frame_, WM_COMMAND, kSetupCommand, 0);
    return WaitForDialog(program_.Pid(), "Setup", kWaitMs);
  }

  // Clicks a button of the dialog without waiting for what the click starts.
  static void Click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

  bool Closed() { return WaitForDialogGone(program_.Pid(), "Setup", kWaitMs); }

  CleanRegistry registry_;
  InstalledCadelo install_;
  harness::Process program_;
  HWND frame_ = nullptr;
};

TEST_F(SetupDialog, ShowsTheStoredValuesInItsEdits) {
  const HWND dialog = OpenSetup();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ItemText(dialog, 1000), "gw.example");
  EXPECT_EQ(ItemText(dialog, 1001), "1234");
  EXPECT_EQ(ItemText(dialog, 1002), "555 0100");
  EXPECT_EQ(ItemText(dialog, 1003), "Ann");
  EXPECT_EQ(ItemText(dialog, 1004), "Lee");
  Click(dialog, IDCANCEL);
  EXPECT_TRUE(Closed());
}

TEST_F(SetupDialog, CancelStoresNothing) {
  const std::vector<RegValue> before = StoredSettings();
  const HWND dialog = OpenSetup();
  ASSERT_NE(dialog, nullptr);
  Enter(dialog, {"other", "99", "1", "Bob", "Roe"});
  Click(dialog, IDCANCEL);
  ASSERT_TRUE(Closed());
  ExpectSameSettings(StoredSettings(), before);
}

struct PortCase {
  const char* text;
  int32_t stored;
};

class SetupDialogPort : public SetupDialog, public testing::WithParamInterface<PortCase> {};

TEST_P(SetupDialogPort, OkStoresAllFiveValuesExactly) {
  harness::MessageBoxWatcher boxes("Brisomel");
  const HWND dialog = OpenSetup();
  ASSERT_NE(dialog, nullptr);
  Enter(dialog, {"gw2.example", GetParam().text, "(555) 010-0200", "Bo & Co", ""});
  Click(dialog, IDOK);
  ASSERT_TRUE(Closed());

  const std::vector<RegValue> stored = StoredSettings();
  EXPECT_EQ(stored[0].type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(stored[0].bytes, SzBytes("gw2.example"));
  EXPECT_EQ(stored[1].type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(stored[1].bytes, DwordBytes(static_cast<DWORD>(GetParam().stored)));
  EXPECT_EQ(stored[2].bytes, SzBytes("(555) 010-0200"));
  EXPECT_EQ(stored[3].bytes, SzBytes("Bo & Co"));
  EXPECT_EQ(stored[4].type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(stored[4].bytes, std::vector<unsigned char>{0x00});
  EXPECT_EQ(boxes.Count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(AcceptedPorts, SetupDialogPort,
                         testing::Values(PortCase{"8155 ", 8155}, PortCase{"-5", -5},
                                         PortCase{"\t+42 ", 42}, PortCase{"70000", 70000}));

class SetupDialogRefusedPort : public SetupDialog, public testing::WithParamInterface<const char*> {};

TEST_P(SetupDialogRefusedPort, ShowsTheIntegerMessageOnceKeepsTheDialogAndStoresNothing) {
  const std::vector<RegValue> before = StoredSettings();
  harness::MessageBoxWatcher boxes("Brisomel");
  const HWND dialog = OpenSetup();
  ASSERT_NE(dialog, nullptr);
  Enter(dialog, {"half.example", GetParam(), "1", "Bob", "Roe"});
  Click(dialog, IDOK);

  ASSERT_TRUE(boxes.WaitForCount(1, kWaitMs));
  EXPECT_EQ(boxes.Seen()[0].text, "Please enter an integer.");
  EXPECT_FALSE(boxes.WaitForCount(2, 500));  // once, not again from a repeated exchange
  EXPECT_TRUE(IsWindow(dialog) && IsWindowVisible(dialog));
  EXPECT_EQ(FocusOfThread(dialog), GetDlgItem(dialog, 1001));
  ExpectSameSettings(StoredSettings(), before);  // not even the host typed before the port

  Click(dialog, IDCANCEL);
  EXPECT_TRUE(Closed());
  ExpectSameSettings(StoredSettings(), before);
}

INSTANTIATE_TEST_SUITE_P(NotIntegers, SetupDialogRefusedPort,
                         testing::Values("abc", "", "12ab", "1 2", "0x10"));

TEST_F(SetupDialog, StoresWithNoDocumentOpen) {
  PostMessageA(frame_, WM_COMMAND, ID_FILE_CLOSE, 0);
  ASSERT_TRUE(WaitUntil([&] { return WindowText(frame_) == "Brisomel"; }, kWaitMs));
  const HWND dialog = OpenSetup();
  ASSERT_NE(dialog, nullptr);
  Enter(dialog, {"nodoc.example", "81", "2", "Cy", "Doe"});
  Click(dialog, IDOK);
  ASSERT_TRUE(Closed());
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "host").bytes, SzBytes("nodoc.example"));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "port").bytes, DwordBytes(81));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "lastname").bytes, SzBytes("Doe"));
}

// The order of the stores, seen through the setters' own failure messages: with the key blocked
// for the first k setters and freed while the k-th one's message is open, exactly the settings
// stored after the k-th are there afterwards.
TEST_F(SetupDialog, OkStoresHostPortMyNumberFirstNameLastNameInThisOrder) {
  ASSERT_TRUE(KeyBlocker::Block());
  if (!KeyBlocker::Blocks()) GTEST_SKIP() << "volatile parent keys do not block here";
  KeyBlocker::Unblock();

  for (size_t failing = 1; failing <= 5; ++failing) {
    SCOPED_TRACE("setters failing: " + std::to_string(failing));
    const HWND dialog = OpenSetup();
    ASSERT_NE(dialog, nullptr);
    Enter(dialog, {"h", "7", "1", "F", "L"});
    ASSERT_TRUE(KeyBlocker::Block());
    Click(dialog, IDOK);
    for (size_t box = 1; box <= failing; ++box) {
      const HWND message = WaitForDialog(program_.Pid(), "Brisomel", kWaitMs);
      ASSERT_NE(message, nullptr);
      EXPECT_EQ(ItemText(message, 0xFFFF).rfind("Cannot create key in registry.", 0), 0u);
      if (box == failing) KeyBlocker::Unblock();
      SendMessageA(GetDlgItem(message, IDOK), BM_CLICK, 0, 0);
      ASSERT_TRUE(WaitUntil([&] { return !IsWindow(message); }, kWaitMs));
    }
    ASSERT_TRUE(Closed());  // the dialog closes even when nothing could be stored

    std::vector<std::string> expected(std::begin(kSettingNames) + failing, std::end(kSettingNames));
    std::vector<std::string> present;
    for (const char* name : kSettingNames) {
      if (ReadValue(HKEY_CURRENT_USER, kSettingsKey, name).exists) present.push_back(name);
    }
    EXPECT_EQ(present, expected);
  }
}

}  // namespace
}  // namespace shelltest
