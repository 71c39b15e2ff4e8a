// The visible start of the real program: default settings, its own path, and the registration of
// the add-in beside it by regsvr32 (observed through a stand-in add-in that records the call).
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <memory>
#include <string>
#include <vector>

#include "common/win/handles.h"
#include "tests/harness/message_box_watcher.h"
#include "tests/harness/registry.h"
#include "tests/shell/installed_cadelo.h"
#include "tests/shell/registration_record.h"
#include "tests/shell/windows_under_test.h"

namespace shelltest {
namespace {

using harness::DwordBytes;
using harness::ReadValue;
using harness::SzBytes;

constexpr int kStartMs = 15000;

void ExpectValue(const char* name, DWORD type, const std::vector<unsigned char>& bytes) {
  const harness::RegValue value = ReadValue(HKEY_CURRENT_USER, kSettingsKey, name);
  ASSERT_TRUE(value.exists) << name;
  EXPECT_EQ(value.type, type) << name;
  EXPECT_EQ(value.bytes, bytes) << name;
}

class VisibleStart : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(install_.Ready()); }

  // Starts the program without arguments, waits for its window and the add-in's registration,
  // and ends it through File > Exit.
  void RunOnce(DWORD expectedRegistrations) {
    harness::Process program = install_.Start();
    ASSERT_TRUE(program.Started());
    const HWND frame = WaitForMainFrame(program.Pid(), kStartMs);
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(WaitForAddinRegistrations(expectedRegistrations, kStartMs));
    ASSERT_TRUE(ExitThroughMenu(program.Handle(), frame, kStartMs));
    EXPECT_EQ(program.ExitCode(), 0u);
  }

  CleanRegistry registry_;
  InstalledCadelo install_;
};

TEST_F(VisibleStart, FirstStartWritesDefaultsAndPathAndRegistersTheAddinBesideTheProgram) {
  RunOnce(1);

  EXPECT_EQ(harness::ValueNames(HKEY_CURRENT_USER, kSettingsKey).size(), 6u);
  ExpectValue("host", REG_SZ, SzBytes("localhost"));
  ExpectValue("port", REG_DWORD, {0xDB, 0x1F, 0x00, 0x00});
  ExpectValue("mynumber", REG_SZ, {0x00});
  ExpectValue("firstname", REG_SZ, {0x00});
  ExpectValue("lastname", REG_SZ, {0x00});
  const harness::RegValue path = ReadValue(HKEY_CURRENT_USER, kSettingsKey, "path");
  EXPECT_EQ(path.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(Lower(TextOf(path)), Lower(install_.ExePath()));
  EXPECT_EQ(path.bytes.size(), TextOf(path).size() + 1);

  // regsvr32 got the add-in beside the program as one quoted argument, folder blank included.
  const std::string module = TextOf(ReadValue(HKEY_CURRENT_USER, kRegistrationRecordKey, "module"));
  EXPECT_EQ(Lower(module), Lower(install_.AddinPath()));
  std::string commandLine = TextOf(ReadValue(HKEY_CURRENT_USER, kRegistrationRecordKey, "commandline"));
  while (!commandLine.empty() && commandLine.back() == ' ') commandLine.pop_back();
  const std::string quoted = "\"" + install_.AddinPath() + "\"";
  ASSERT_GE(commandLine.size(), quoted.size()) << commandLine;
  EXPECT_EQ(Lower(commandLine.substr(commandLine.size() - quoted.size())), Lower(quoted)) << commandLine;
}

TEST_F(VisibleStart, LaterStartChangesOnlyThePathAndRegistersAgain) {
  const std::vector<std::pair<const char*, harness::RegValue>> stored = {
      {"host", {true, REG_SZ, SzBytes("gw.example")}},
      {"port", {true, REG_DWORD, DwordBytes(1234)}},
      {"mynumber", {true, REG_SZ, SzBytes("555 0100")}},
      {"firstname", {true, REG_SZ, SzBytes("Ann")}},
      {"lastname", {true, REG_SZ, SzBytes("")}},
      {"path", {true, REG_SZ, SzBytes("C:\\Old\\cadelo.exe")}},
  };
  for (const auto& [name, value] : stored) {
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, name, value.type, value.bytes));
  }

  RunOnce(1);
  RunOnce(2);  // and again at the next start

  for (const auto& [name, value] : stored) {
    if (std::string(name) == "path") continue;
    ExpectValue(name, value.type, value.bytes);
  }
  EXPECT_EQ(Lower(TextOf(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "path"))), Lower(install_.ExePath()));
  EXPECT_EQ(harness::ValueNames(HKEY_CURRENT_USER, kSettingsKey).size(), 6u);
}

// An administrator's per-user form of the path ("%LOCALAPPDATA%\..."), expanded, names this
// program: it stays as deployed, writable or not, and is worth no word.
TEST_F(VisibleStart, AnExpandablePathNamingThisProgramIsKept) {
  const std::string exe = install_.ExePath();
  const size_t cut = exe.rfind('\\');
  ASSERT_TRUE(SetEnvironmentVariableA("BRISOMEL_TEST_PROGRAM_FOLDER", exe.substr(0, cut).c_str()));  // inherited
  const std::vector<unsigned char> deployed = SzBytes("%BRISOMEL_TEST_PROGRAM_FOLDER%" + exe.substr(cut));
  DWORD registrations = 0;
  for (const bool readOnly : {false, true}) {
    SCOPED_TRACE(readOnly ? "read-only" : "writable");
    harness::DeleteTree(HKEY_CURRENT_USER, kSettingsKey);
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "path", REG_EXPAND_SZ, deployed));
    std::unique_ptr<harness::ScopedKeyAccess> access;
    if (readOnly) access = std::make_unique<harness::ScopedKeyAccess>(HKEY_CURRENT_USER, kSettingsKey, "D:P(A;;KR;;;WD)");
    harness::MessageBoxWatcher boxes("Brisomel");

    RunOnce(++registrations);

    EXPECT_EQ(boxes.Count(), 0u) << (boxes.Count() ? boxes.Seen()[0].text : "");
    ExpectValue("path", REG_EXPAND_SZ, deployed);
  }
}

bool Regsvr32Runs() {
  win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    if (lstrcmpiA(entry.szExeFile, "regsvr32.exe") == 0) return true;
  }
  return false;
}

// The program of a per-machine installation (HKLM's `path` names it) leaves the registration to
// the installation: the user's defaults, but no path of the user's and no regsvr32.
TEST_F(VisibleStart, AProgramInstalledForTheMachineRecordsNoPathAndRegistersNothing) {
  harness::ScopedRegistryKey machine(HKEY_LOCAL_MACHINE, kSettingsKey);
  ASSERT_TRUE(harness::WriteValue(HKEY_LOCAL_MACHINE, kSettingsKey, "path", REG_SZ, SzBytes(install_.ExePath())));

  RunOnce(0);

  EXPECT_EQ(harness::ValueNames(HKEY_CURRENT_USER, kSettingsKey).size(), 5u);
  ExpectValue("host", REG_SZ, SzBytes("localhost"));
  ExpectValue("lastname", REG_SZ, {0x00});
  // regsvr32 would have been started before the window showed: it runs, or it has recorded.
  EXPECT_FALSE(Regsvr32Runs());
  EXPECT_EQ(AddinRegistrationCount(), 0u);
}

TEST_F(VisibleStart, ExistingValuesOfAnyTypeCountAsPresent) {
  // A port kept as text, an empty binary host: both stay; only what is missing gets its default.
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "port", REG_SZ, SzBytes("9000")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "host", REG_BINARY, {}));

  RunOnce(1);

  ExpectValue("port", REG_SZ, SzBytes("9000"));
  ExpectValue("host", REG_BINARY, {});
  ExpectValue("mynumber", REG_SZ, {0x00});
  ExpectValue("firstname", REG_SZ, {0x00});
  ExpectValue("lastname", REG_SZ, {0x00});
}

TEST_F(VisibleStart, ShowsTheMainFrameWhateverShowCommandWindowsPassed) {
  ShownProcess program = install_.StartShown(SW_SHOWMINNOACTIVE);
  ASSERT_TRUE(program.Started());
  const HWND frame = WaitForMainFrame(program.Pid(), kStartMs);
  ASSERT_NE(frame, nullptr);
  EXPECT_FALSE(IsIconic(frame));
  EXPECT_TRUE(IsWindowVisible(frame));
  ASSERT_TRUE(WaitForAddinRegistrations(1, kStartMs));
  ASSERT_TRUE(ExitThroughMenu(program.Handle(), frame, kStartMs));
  EXPECT_EQ(ExitCodeOf(program.Handle()), 0u);
}

TEST_F(VisibleStart, SettingsKeyThatCannotBeCreatedEndsTheStartAfterTheStoresMessage) {
  ASSERT_TRUE(KeyBlocker::Block());
  if (!KeyBlocker::Blocks()) GTEST_SKIP() << "volatile parent keys do not block here";
  harness::MessageBoxWatcher boxes("Brisomel");
  harness::Process program = install_.Start();
  ASSERT_TRUE(boxes.WaitForCount(1, kStartMs));
  EXPECT_EQ(boxes.Seen()[0].text.rfind("Cannot create key in registry.", 0), 0u) << boxes.Seen()[0].text;
  ASSERT_TRUE(program.WaitForExit(kStartMs));
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_EQ(boxes.Count(), 1u);
  // Nothing written and nothing registered; no window left.
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_EQ(AddinRegistrationCount(), 0u);
}

// Settings deployed read-only: the program starts and works with them as they are; only a `path`
// that names another program (or none) is worth a word, once, with the system's reason.
TEST_F(VisibleStart, ReadOnlySettingsAreKeptAndOnlyAPathNamingAnotherProgramIsReported) {
  char reason[1024] = {};
  ASSERT_NE(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_ACCESS_DENIED,
                           0x0400, reason, sizeof reason, nullptr),
            0u);
  const std::string notRecorded = std::string("Cannot record the location of Brisomel in registry.") + reason;
  struct Case {
    const char* name;
    std::string path;  // "" leaves `path` out
    std::vector<std::string> boxes;
  };
  const Case cases[] = {
      {"another program", "C:\\Old\\cadelo.exe", {notRecorded}},
      {"no program", "", {notRecorded}},
      {"this program", install_.ExePath(), {}},
  };
  DWORD registrations = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    harness::DeleteTree(HKEY_CURRENT_USER, kSettingsKey);
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "host", REG_SZ, SzBytes("gw.corp")));
    if (!c.path.empty()) {
      ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "path", REG_SZ, SzBytes(c.path)));
    }
    const std::vector<std::string> before = harness::ValueNames(HKEY_CURRENT_USER, kSettingsKey);
    harness::ScopedKeyAccess readOnly(HKEY_CURRENT_USER, kSettingsKey, "D:P(A;;KR;;;WD)");
    ASSERT_TRUE(readOnly.Ok());
    harness::MessageBoxWatcher boxes("Brisomel");

    RunOnce(++registrations);

    std::vector<std::string> texts;
    for (const harness::SeenBox& box : boxes.Seen()) texts.push_back(box.text);
    EXPECT_EQ(texts, c.boxes);
    EXPECT_EQ(harness::ValueNames(HKEY_CURRENT_USER, kSettingsKey), before);
    ExpectValue("host", REG_SZ, SzBytes("gw.corp"));
    if (!c.path.empty()) ExpectValue("path", REG_SZ, SzBytes(c.path));
  }
}

TEST_F(VisibleStart, RegistersTheDocumentTypeForAutomation) {
  RunOnce(1);
  const harness::RegValue clsid = ReadValue(HKEY_CLASSES_ROOT, "Cadelo.Document\\CLSID", "");
  EXPECT_EQ(TextOf(clsid), "{B27E5F90-4C1A-4D3E-8F62-07A9D3C15E4B}");
  const harness::RegValue server =
      ReadValue(HKEY_CLASSES_ROOT, std::string(kDocumentClsidKey) + "\\LocalServer32", "");
  EXPECT_NE(Lower(TextOf(server)).find(Lower(install_.ExePath())), std::string::npos) << TextOf(server);
}

}  // namespace
}  // namespace shelltest
