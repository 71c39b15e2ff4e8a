// The uninstaller: it ends the agent, removes the add-in's registration (both views, the user's
// and, where it names this installation, the machine's), files, shortcut and entries, and keeps
// the user's settings unless told otherwise; it stops while Outlook holds the add-in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/win/handles.h"
#include "tests/harness/paths.h"
#include "tests/harness/process.h"
#include "tests/harness/registry.h"
#include "tests/installer/agent_processes.h"
#include "tests/installer/dialog_driver.h"
#include "tests/installer/expectations.h"
#include "tests/installer/installation.h"
#include "tests/installer/registry_view.h"

namespace installer_test {
namespace {

using harness::DwordBytes;
using harness::SzBytes;
using ::testing::UnorderedElementsAre;

constexpr int kTimeoutMs = 30000;
constexpr char kUninstallCaption[] = "Brisomel Uninstall";
constexpr char kKeepSettingsQuestion[] =
    "Do you want to keep your Brisomel settings (Talmery Gateway, your name and phone number) for a "
    "later installation?";

std::string TextOf(const harness::RegValue& value) {
  std::string text(value.bytes.begin(), value.bytes.end());
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// What the user set up in the agent's Setup dialog, and the agent's own profile.
void WriteUserSettings() {
  harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "host", REG_SZ, SzBytes("gateway.example"));
  harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "port", REG_DWORD, DwordBytes(8200));
  harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "mynumber", REG_SZ, SzBytes("555-0199"));
  harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "firstname", REG_SZ, SzBytes("Ann"));
  harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "lastname", REG_SZ, SzBytes("Lee"));
  harness::WriteValue(HKEY_CURRENT_USER, std::string(kProfileKey) + "\\Recent File List", "File1", REG_SZ,
                      SzBytes("C:\\Docs\\a.cadel"));
}

void ExpectNoInstallationLeft() {
  ExpectNoClasses();
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kOutlookAddinKey));
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kUninstallKey));
  EXPECT_FALSE(FolderExists(InstallDir())) << "left: " << ::testing::PrintToString(FileNamesIn(InstallDir()));
  EXPECT_FALSE(FileExists(Shortcut()));
  EXPECT_FALSE(FolderExists(ShortcutFolder()));
}

bool HasVisibleWindow(DWORD pid) {
  for (HWND window : harness::FindTopLevelWindows(pid)) {
    if (IsWindowVisible(window)) return true;
  }
  return false;
}

class Uninstall : public ::testing::Test {
 protected:
  CleanSlate clean_;
};

TEST_F(Uninstall, SilentEndsTheAgentRemovesEverythingAndKeepsTheSettings) {
  ASSERT_EQ(RunSetup("/S"), 0);
  WriteUserSettings();
  // The user opened Brisomel from the Start menu: it runs, and has registered the add-in
  // (regsvr32) and its document type itself.
  const std::string agentPath = InstalledFile("cadelo.exe");
  harness::Process agent = harness::Process::Launch(agentPath, "\"" + agentPath + "\"");
  ASSERT_TRUE(agent.Started());
  ASSERT_TRUE(WaitFor([&] { return HasVisibleWindow(agent.Pid()); }, kTimeoutMs));
  ASSERT_TRUE(WaitFor([] { return ProcessesNamed("regsvr32.exe").empty(); }, kTimeoutMs));
  ASSERT_TRUE(KeyExistsIn(kAgentView, HKEY_CURRENT_USER, ClassKey(kDocumentClsid)) ||
              KeyExistsIn(kAgentView, HKEY_LOCAL_MACHINE, ClassKey(kDocumentClsid)));

  // As Windows runs it from Add/Remove Programs: the uninstaller copies itself away and ends at
  // once; its copy does the work.
  const std::string quiet = TextOf(harness::ReadValue(HKEY_CURRENT_USER, kUninstallKey, "QuietUninstallString"));
  ASSERT_EQ(RunCommandLine(quiet), 0);
  ASSERT_TRUE(WaitFor([] { return !harness::KeyExists(HKEY_CURRENT_USER, kUninstallKey) && !FolderExists(InstallDir()); },
                      kTimeoutMs));

  ASSERT_TRUE(agent.WaitForExit(kTimeoutMs));
  EXPECT_EQ(agent.ExitCode(), 0u);
  ExpectNoInstallationLeft();
  // The settings stay for a later installation; the path of the removed program goes.
  ExpectExactValues(View::k32, HKEY_CURRENT_USER, kSettingsKey,
                    {{"host", REG_SZ, SzBytes("gateway.example")},
                     {"port", REG_DWORD, DwordBytes(8200)},
                     {"mynumber", REG_SZ, SzBytes("555-0199")},
                     {"firstname", REG_SZ, SzBytes("Ann")},
                     {"lastname", REG_SZ, SzBytes("Lee")}});
  EXPECT_TRUE(harness::KeyExists(HKEY_CURRENT_USER, kProfileKey));
}

TEST_F(Uninstall, KeepsThePathOfAnotherCopyOfTheAgent) {
  ASSERT_EQ(RunSetup("/S"), 0);
  // Another copy was started visibly since, and recorded its own path.
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "path", REG_SZ, SzBytes("C:\\Other\\cadelo.exe")));

  ASSERT_EQ(RunUninstaller("/S"), 0);

  EXPECT_EQ(TextOf(harness::ReadValue(HKEY_CURRENT_USER, kSettingsKey, "path")), "C:\\Other\\cadelo.exe");
  ExpectNoInstallationLeft();
}

TEST_F(Uninstall, AnsweredNoRemovesTheSettings) {
  ASSERT_EQ(RunSetup("/S"), 0);
  WriteUserSettings();
  harness::TempDir folder;
  harness::Process uninstaller = StartUninstaller(folder.Path(), "");
  ASSERT_TRUE(uninstaller.Started());

  HWND wizard = WaitForDialog(uninstaller.Pid(), kUninstallCaption,
                              [](HWND w) { return WindowText(GetDlgItem(w, IDOK)) == "&Uninstall"; }, kTimeoutMs);
  ASSERT_NE(wizard, nullptr) << "the confirmation page did not appear; windows:\n"
                             << DescribeWindowsOf(uninstaller.Pid());
  PressButton(wizard, IDOK);

  HWND question = WaitForDialog(uninstaller.Pid(), kUninstallCaption,
                                [](HWND w) { return GetDlgItem(w, 0xFFFF) != nullptr; }, kTimeoutMs);
  ASSERT_NE(question, nullptr) << "no question about the settings; windows:\n"
                               << DescribeWindowsOf(uninstaller.Pid());
  EXPECT_EQ(MessageBoxText(question), kKeepSettingsQuestion);
  EXPECT_NE(GetDlgItem(question, IDYES), nullptr);
  PressButton(question, IDNO);

  // The last page's button reads "Close" from the start; it is enabled once the work is done.
  ASSERT_TRUE(WaitForButton(wizard, IDOK, "&Close", kTimeoutMs));
  PressButton(wizard, IDOK);
  ASSERT_TRUE(uninstaller.WaitForExit(kTimeoutMs));
  EXPECT_EQ(uninstaller.ExitCode(), 0u);

  ExpectNoInstallationLeft();
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, "Software\\Brisomel\\tarnwick"));
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kProfileKey));
}

// Outlook holds whichever add-in matches its bitness; either one stops the uninstall before
// anything is deleted.
TEST_F(Uninstall, StopsWithEverythingInPlaceWhileOutlookHoldsEitherAddin) {
  ASSERT_EQ(RunSetup("/S"), 0);
  for (const char* held : {"mervane.dll", "mervane64.dll"}) {
    SCOPED_TRACE(held);
    if (!FileExists(InstalledFile(held))) continue;  // no 64-bit add-in on 32-bit Windows
    {
      // As Outlook holds the add-in it loaded: loaded here when it matches this test's bitness,
      // else opened the way a loaded image is (no one may write or delete it).
      win::Module loaded(LoadLibraryA(InstalledFile(held).c_str()));
      win::FileHandle opened;
      if (!loaded) {
        opened.reset(CreateFileA(InstalledFile(held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
      }
      ASSERT_TRUE(loaded || opened);

      EXPECT_EQ(RunUninstaller("/S"), 2);

      for (const char* file : {"mervane.dll", "mervane64.dll", "cadelo.exe", "uninstall.exe"}) {
        if (std::string(file) != "mervane64.dll" || Is64BitWindows()) {
          EXPECT_TRUE(FileExists(InstalledFile(file))) << file << " was deleted";
        }
      }
      EXPECT_TRUE(FileExists(Shortcut()));
      EXPECT_TRUE(harness::KeyExists(HKEY_CURRENT_USER, kOutlookAddinKey));
      EXPECT_TRUE(KeyExistsIn(View::k32, HKEY_CURRENT_USER, ClassKey(kAddinClsid)));
      EXPECT_TRUE(harness::KeyExists(HKEY_CURRENT_USER, kUninstallKey));
      EXPECT_EQ(TextOf(harness::ReadValue(HKEY_CURRENT_USER, kSettingsKey, "path")), InstalledFile("cadelo.exe"));
    }
  }
  // Outlook has ended: the uninstall goes through.
  EXPECT_EQ(RunUninstaller("/S"), 0);
  ExpectNoInstallationLeft();
}

// Another copy of the add-in registered itself for this user since (its agent's visible start
// runs regsvr32): its class, the ProgID and the Outlook add-in key it needs stay.
TEST_F(Uninstall, KeepsAnotherInstallationsAddinRegistration) {
  ASSERT_EQ(RunSetup("/S"), 0);
  const std::string other = "C:\\Other\\mervane.dll";
  for (View view : Views()) {
    ASSERT_TRUE(WriteTextIn(view, HKEY_CURRENT_USER, ClassKey(kAddinClsid) + "\\InprocServer32", "", other));
  }

  ASSERT_EQ(RunUninstaller("/S"), 0);

  EXPECT_EQ(TextOf(ReadValueIn(View::k32, HKEY_CURRENT_USER, ClassKey(kAddinClsid) + "\\InprocServer32", "")), other);
  EXPECT_TRUE(KeyExistsIn(View::k32, HKEY_CURRENT_USER, ProgIdKey(kAddinProgId)));
  EXPECT_TRUE(harness::KeyExists(HKEY_CURRENT_USER, kOutlookAddinKey));
  EXPECT_FALSE(FolderExists(InstallDir())) << "left: " << ::testing::PrintToString(FileNamesIn(InstallDir()));
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kUninstallKey));
  // This installation's own machine-wide registration (under Wine) is gone all the same.
  for (View view : Views()) {
    const std::string machine = TextOf(ReadValueIn(view, HKEY_LOCAL_MACHINE, ClassKey(kAddinClsid) + "\\InprocServer32", ""));
    EXPECT_EQ(machine.find(InstallDir()), std::string::npos) << ViewName(view);
  }
}

}  // namespace
}  // namespace installer_test
