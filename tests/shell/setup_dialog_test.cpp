// File > Setup in the real program: what the dialog shows, what OK and Cancel store, how a port
// that is not an integer from 1 to 65535, a host no request can go to (empty, with blanks) and a
// text too long to read back are refused, and how a store that fails keeps the dialog open with
// what was typed.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "agent/framework/ui/afx_ids.h"
#include "common/win/handles.h"
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
                         testing::Values(PortCase{"8155 ", 8155}, PortCase{"1", 1},
                                         PortCase{"\t+42 ", 42}, PortCase{"65535", 65535}));

struct RefusedField {
  const char* what;
  Entered entered;
  int field;            // the control that gets the focus
  const char* message;  // shown once
};

void PrintTo(const RefusedField& f, std::ostream* out) { *out << f.what; }

class SetupDialogRefused : public SetupDialog, public testing::WithParamInterface<RefusedField> {};

// What would not read back as typed is refused: nothing half-entered is stored, the user is told
// once, the focus is on the field and the dialog stays open.
TEST_P(SetupDialogRefused, ShowsItsMessageOnceKeepsTheDialogAndStoresNothing) {
  const std::vector<RegValue> before = StoredSettings();
  harness::MessageBoxWatcher boxes("Brisomel");
  const HWND dialog = OpenSetup();
  ASSERT_NE(dialog, nullptr);
  Enter(dialog, GetParam().entered);
  Click(dialog, IDOK);

  ASSERT_TRUE(boxes.WaitForCount(1, kWaitMs));
  EXPECT_EQ(boxes.Seen()[0].text, GetParam().message);
  EXPECT_FALSE(boxes.WaitForCount(2, 500));  // once, not again from a repeated exchange
  EXPECT_TRUE(IsWindow(dialog) && IsWindowVisible(dialog));
  EXPECT_EQ(FocusOfThread(dialog), GetDlgItem(dialog, GetParam().field));
  ExpectSameSettings(StoredSettings(), before);  // not even the fields before it

  Click(dialog, IDCANCEL);
  EXPECT_TRUE(Closed());
  ExpectSameSettings(StoredSettings(), before);
}

const char kNotAnInteger[] = "Please enter an integer.";
const char kNotAPort[] = "Please enter an integer between 1 and 65535.";
const std::string k260(260, 'n');

INSTANTIATE_TEST_SUITE_P(
    Fields, SetupDialogRefused,
    testing::Values(RefusedField{"port abc", {"h", "abc", "1", "B", "R"}, 1001, kNotAnInteger},
                    RefusedField{"port empty", {"h", "", "1", "B", "R"}, 1001, kNotAnInteger},
                    RefusedField{"port 12ab", {"h", "12ab", "1", "B", "R"}, 1001, kNotAnInteger},
                    RefusedField{"port 1 2", {"h", "1 2", "1", "B", "R"}, 1001, kNotAnInteger},
                    RefusedField{"port 0x10", {"h", "0x10", "1", "B", "R"}, 1001, kNotAnInteger},
                    RefusedField{"port 0", {"h", "0", "1", "B", "R"}, 1001, kNotAPort},
                    RefusedField{"port -5", {"h", "-5", "1", "B", "R"}, 1001, kNotAPort},
                    RefusedField{"port 65536", {"h", "65536", "1", "B", "R"}, 1001, kNotAPort},
                    RefusedField{"port 70000", {"h", "70000", "1", "B", "R"}, 1001, kNotAPort},
                    RefusedField{"host empty", {"", "80", "1", "B", "R"}, 1000,
                                 "Please enter the host name or address of the Talmery Gateway."},
                    RefusedField{"host with a blank", {"gate way.example", "80", "1", "B", "R"}, 1000,
                                 "Please enter a host name without blanks."},
                    RefusedField{"host with a tab", {"gw\t.example", "80", "1", "B", "R"}, 1000,
                                 "Please enter a host name without blanks."},
                    RefusedField{"https host with a port", {"https://gw.example:8443", "80", "1", "B", "R"}, 1000,
                                 "The Talmery Gateway's host carries a port after its name: enter the port in the "
                                 "Port setting instead."},
                    RefusedField{"https host with a path", {"https://gw.example/calls", "80", "1", "B", "R"}, 1000,
                                 "The Talmery Gateway's host must be a name or address, optionally after https://, "
                                 "with no path."},
                    RefusedField{"https without a name", {"https://", "80", "1", "B", "R"}, 1000,
                                 "Please enter the gateway's name or address after https://, without blanks."},
                    RefusedField{"host of 1024", {std::string(1024, 'h'), "80", "1", "B", "R"}, 1000,
                                 "Please enter no more than 1023 characters."},
                    RefusedField{"number of 260", {"h", "80", k260, "B", "R"}, 1002,
                                 "Please enter no more than 259 characters."},
                    RefusedField{"first name of 260", {"h", "80", "1", k260, "R"}, 1003,
                                 "Please enter no more than 259 characters."},
                    RefusedField{"last name of 260", {"h", "80", "1", "B", k260}, 1004,
                                 "Please enter no more than 259 characters."}),
    [](const testing::TestParamInfo<RefusedField>& info) { return std::to_string(info.index); });

// The edits take no more than reads back, and exactly that much is stored.
TEST_F(SetupDialog, EditsTakeAtMostWhatReadsBackAndThatIsStored) {
  const HWND dialog = OpenSetup();
  ASSERT_NE(dialog, nullptr);
  const struct {
    int id;
    LRESULT limit;
  } limits[] = {{1000, 1023}, {1002, 259}, {1003, 259}, {1004, 259}};
  for (const auto& l : limits) EXPECT_EQ(SendMessageA(GetDlgItem(dialog, l.id), EM_GETLIMITTEXT, 0, 0), l.limit) << l.id;
  Enter(dialog, {std::string(1023, 'h'), "80", std::string(259, '5'), std::string(259, 'f'), "L"});
  Click(dialog, IDOK);
  ASSERT_TRUE(Closed());
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "host").bytes, SzBytes(std::string(1023, 'h')));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "mynumber").bytes, SzBytes(std::string(259, '5')));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "firstname").bytes, SzBytes(std::string(259, 'f')));
}

// An https:// host is stored as written, and shown so again.
TEST_F(SetupDialog, StoresAnHttpsHostAsWritten) {
  HWND dialog = OpenSetup();
  ASSERT_NE(dialog, nullptr);
  Enter(dialog, {"https://gw.example/", "8155", "2", "Cy", "Doe"});
  Click(dialog, IDOK);
  ASSERT_TRUE(Closed());
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "host").bytes, SzBytes("https://gw.example/"));
  dialog = OpenSetup();
  ASSERT_NE(dialog, nullptr);
  char shown[64] = {};
  GetDlgItemTextA(dialog, 1000, shown, sizeof shown);
  EXPECT_STREQ(shown, "https://gw.example/");
  Click(dialog, IDCANCEL);
  EXPECT_TRUE(Closed());
}

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

// A store that fails says why once and keeps the dialog open with what was typed; OK again once
// the registry takes it stores everything.
TEST_F(SetupDialog, AFailedStoreKeepsTheDialogOpenWithWhatWasTyped) {
  ASSERT_TRUE(KeyBlocker::Block());
  if (!KeyBlocker::Blocks()) GTEST_SKIP() << "volatile parent keys do not block here";
  KeyBlocker::Unblock();

  const HWND dialog = OpenSetup();
  ASSERT_NE(dialog, nullptr);
  const Entered typed{"kept.example", "8200", "555 0300", "Tom & Jerry", "Roe"};
  Enter(dialog, typed);
  {
    harness::MessageBoxWatcher boxes("Brisomel");
    ASSERT_TRUE(KeyBlocker::Block());
    Click(dialog, IDOK);
    ASSERT_TRUE(boxes.WaitForCount(1, kWaitMs));
    EXPECT_EQ(boxes.Seen()[0].text.rfind("Cannot create key in registry.", 0), 0u) << boxes.Seen()[0].text;
    EXPECT_FALSE(boxes.WaitForCount(2, 500)) << "told more than once";
  }
  EXPECT_TRUE(IsWindow(dialog) && IsWindowVisible(dialog));
  EXPECT_EQ(ItemText(dialog, 1000), typed.host);
  EXPECT_EQ(ItemText(dialog, 1001), typed.port);
  EXPECT_EQ(ItemText(dialog, 1002), typed.myNumber);
  EXPECT_EQ(ItemText(dialog, 1003), typed.firstName);
  EXPECT_EQ(ItemText(dialog, 1004), typed.lastName);

  KeyBlocker::Unblock();
  Click(dialog, IDOK);
  ASSERT_TRUE(Closed());
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "host").bytes, SzBytes(typed.host));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "port").bytes, DwordBytes(8200));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "firstname").bytes, SzBytes(typed.firstName));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "lastname").bytes, SzBytes(typed.lastName));
}

// What group policy sets, or forbids changing, is shown greyed and never stored: OK stores the
// rest. The machine's policy sets the host; the user's policy forbids changing the port.
TEST_F(SetupDialog, GreysWhatPolicySetsOrLocksAndStoresOnlyTheRest) {
  const char kPolicyKey[] = "Software\\Policies\\Brisomel\\tarnwick\\1.0";
  harness::ScopedRegistryKey machinePolicy(HKEY_LOCAL_MACHINE, kPolicyKey);
  harness::ScopedRegistryKey userPolicy(HKEY_CURRENT_USER, kPolicyKey);
  ASSERT_TRUE(harness::WriteValue(HKEY_LOCAL_MACHINE, kPolicyKey, "host", REG_SZ, SzBytes("gw.corp")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kPolicyKey, "lockgateway", REG_DWORD, DwordBytes(1)));
  harness::MessageBoxWatcher boxes("Brisomel");
  const HWND dialog = OpenSetup();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ItemText(dialog, 1000), "gw.corp");
  EXPECT_EQ(ItemText(dialog, 1001), "1234");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1000)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1001)));
  for (int id : {1002, 1003, 1004}) EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;

  Enter(dialog, {"typed.anyway", "0", "555 0400", "Bo", "Roe"});
  Click(dialog, IDOK);
  ASSERT_TRUE(Closed());
  const std::vector<RegValue> stored = StoredSettings();
  EXPECT_EQ(stored[0].bytes, SzBytes("gw.example")) << "the user's own host stays";
  EXPECT_EQ(stored[1].bytes, DwordBytes(1234));
  EXPECT_EQ(stored[2].bytes, SzBytes("555 0400"));
  EXPECT_EQ(stored[3].bytes, SzBytes("Bo"));
  EXPECT_EQ(stored[4].bytes, SzBytes("Roe"));
  EXPECT_EQ(boxes.Count(), 0u);
}

// A lock that is no REG_DWORD is told when Setup opens, and locks.
TEST_F(SetupDialog, TellsALockOfTheWrongTypeAndGreysTheGateway) {
  const char kPolicyKey[] = "Software\\Policies\\Brisomel\\tarnwick\\1.0";
  harness::ScopedRegistryKey machinePolicy(HKEY_LOCAL_MACHINE, kPolicyKey);
  ASSERT_TRUE(harness::WriteValue(HKEY_LOCAL_MACHINE, kPolicyKey, "lockgateway", REG_SZ, SzBytes("1")));
  harness::MessageBoxWatcher boxes("Brisomel");
  PostMessageA(frame_, WM_COMMAND, kSetupCommand, 0);
  ASSERT_TRUE(boxes.WaitForCount(1, kWaitMs));
  EXPECT_EQ(boxes.Seen()[0].text,
            "The Brisomel policy setting \"lockgateway\" (HKEY_LOCAL_MACHINE\\Software\\Policies\\Brisomel\\tarnwick\\1.0) "
            "is stored as REG_SZ, not as a REG_DWORD of 4 bytes. Ask your administrator to correct it.");
  const HWND dialog = WaitForDialog(program_.Pid(), "Setup", kWaitMs);
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1000)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1001)));
  Click(dialog, IDCANCEL);
  EXPECT_TRUE(Closed());
}

}  // namespace
}  // namespace shelltest
