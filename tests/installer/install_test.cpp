// Setup run silently for the current user: exactly the files, shortcut and registry keys
// expected; settings the user has stay; an agent that runs is replaced; no administrator rights.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include "common/win/com_ptr.h"
#include "common/win/handles.h"
#include "tests/harness/process.h"
#include "tests/harness/registry.h"
#include "tests/harness/paths.h"
#include "tests/installer/agent_processes.h"
#include "tests/installer/dialog_driver.h"
#include "tests/installer/expectations.h"
#include "tests/installer/installation.h"

namespace installer_test {
namespace {

using harness::DwordBytes;
using harness::SzBytes;
using ::testing::UnorderedElementsAreArray;

constexpr int kProcessTimeoutMs = 20000;

std::string TextOf(const harness::RegValue& value) {
  std::string text(value.bytes.begin(), value.bytes.end());
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

struct ShortcutFacts {
  std::string target;
  std::string workingDirectory;
};

ShortcutFacts ReadShortcut(const std::string& path) {
  ShortcutFacts facts;
  win::ComPtr<IShellLinkA> link;
  win::ComPtr<IPersistFile> file;
  std::wstring widePath(path.begin(), path.end());
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.put_void())) ||
      FAILED(link.As(IID_IPersistFile, &file)) || FAILED(file->Load(widePath.c_str(), STGM_READ))) {
    return facts;
  }
  char text[MAX_PATH] = {};
  if (SUCCEEDED(link->GetPath(text, sizeof text, nullptr, 0))) facts.target = text;
  char folder[MAX_PATH] = {};
  if (SUCCEEDED(link->GetWorkingDirectory(folder, sizeof folder))) facts.workingDirectory = folder;
  return facts;
}

std::vector<std::string> ExpectedFiles() {
  std::vector<std::string> files = {"cadelo.exe", "mervane.dll", "uninstall.exe"};
  if (Is64BitWindows()) files.push_back("mervane64.dll");
  return files;
}

// Windows shows the size in KB: the installed files' bytes, rounded down.
DWORD InstalledKilobytes() {
  unsigned long long bytes = 0;
  for (const std::string& name : FileNamesIn(InstallDir())) bytes += FileContent(InstalledFile(name)).size();
  return static_cast<DWORD>(bytes / 1024);
}

// The add-in each view's registration names in HKCU. Where Windows keeps the views apart, each
// names its own; where they are one key (Wine), the 64-bit registration is written last.
std::string UserClassAddin(View view) {
  if (view == View::k64 || (Is64BitWindows() && UserClassesShareViews())) return InstalledFile("mervane64.dll");
  return InstalledFile("mervane.dll");
}

std::string MachineClassAddin(View view) {
  return InstalledFile(view == View::k64 ? "mervane64.dll" : "mervane.dll");
}

harness::Process StartAgentAsTheUserDoes() {
  const std::string agent = InstalledFile("cadelo.exe");
  return harness::Process::Launch(agent, "\"" + agent + "\"");
}

bool HasVisibleWindow(DWORD pid) {
  for (HWND window : harness::FindTopLevelWindows(pid)) {
    if (IsWindowVisible(window)) return true;
  }
  return false;
}

// The agent's visible start runs regsvr32 on the add-in and does not wait for it.
void WaitForRegistrationToEnd() {
  EXPECT_TRUE(WaitFor([] { return ProcessesNamed("regsvr32.exe").empty(); }, kProcessTimeoutMs));
}

class Setup : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }

  CleanSlate clean_;
};

TEST_F(Setup, SilentInstallGivesExactlyTheExpectedFilesAndRegistryKeys) {
  ASSERT_EQ(RunSetup("/S"), 0);

  EXPECT_THAT(FileNamesIn(InstallDir()), UnorderedElementsAreArray(ExpectedFiles()));
  EXPECT_TRUE(FileContent(InstalledFile("cadelo.exe")) == FileContent(BuiltAgent())) << "cadelo.exe differs";
  EXPECT_TRUE(FileContent(InstalledFile("mervane.dll")) == FileContent(BuiltAddin32())) << "mervane.dll differs";
  if (Is64BitWindows()) {
    EXPECT_TRUE(FileContent(InstalledFile("mervane64.dll")) == FileContent(BuiltAddin64()))
        << "mervane64.dll is not the x86_64 add-in";
  }

  const ShortcutFacts shortcut = ReadShortcut(Shortcut());
  EXPECT_EQ(shortcut.target, InstalledFile("cadelo.exe"));
  EXPECT_EQ(shortcut.workingDirectory, InstallDir());
  EXPECT_THAT(FileNamesIn(ShortcutFolder()), UnorderedElementsAreArray({"Brisomel.lnk"}));

  for (View view : Views()) {
    SCOPED_TRACE("HKCU");
    ExpectAddinClass(view, HKEY_CURRENT_USER, UserClassAddin(view));
  }
  // Wine's COM reads HKLM\Software\Classes only, so setup registers the classes there too.
  for (View view : Views()) {
    SCOPED_TRACE("HKLM");
    if (RunningUnderWine()) {
      ExpectAddinClass(view, HKEY_LOCAL_MACHINE, MachineClassAddin(view));
    } else {
      EXPECT_FALSE(KeyExistsIn(view, HKEY_LOCAL_MACHINE, ClassKey(kAddinClsid)));
    }
  }

  ExpectExactValues(View::k32, HKEY_CURRENT_USER, kOutlookAddinKey,
                    {{"LoadBehavior", REG_DWORD, DwordBytes(3)},
                     {"CommandLineSafe", REG_DWORD, DwordBytes(0)},
                     {"FriendlyName", REG_SZ, SzBytes(kAddinDescription)},
                     {"Description", REG_SZ, SzBytes(kAddinDescription)}});

  // As the agent's first visible start writes them.
  ExpectExactValues(View::k32, HKEY_CURRENT_USER, kSettingsKey,
                    {{"host", REG_SZ, SzBytes("localhost")},
                     {"port", REG_DWORD, DwordBytes(8155)},
                     {"mynumber", REG_SZ, SzBytes("")},
                     {"firstname", REG_SZ, SzBytes("")},
                     {"lastname", REG_SZ, SzBytes("")},
                     {"path", REG_SZ, SzBytes(InstalledFile("cadelo.exe"))}});

  const std::string uninstaller = "\"" + InstalledFile("uninstall.exe") + "\"";
  ExpectExactValues(View::k32, HKEY_CURRENT_USER, kUninstallKey,
                    {{"DisplayName", REG_SZ, SzBytes("Brisomel")},
                     {"DisplayVersion", REG_SZ, SzBytes(FileVersionOf(BuiltAgent()))},
                     {"Publisher", REG_SZ, SzBytes("Brisomel")},
                     {"UninstallString", REG_SZ, SzBytes(uninstaller)},
                     {"QuietUninstallString", REG_SZ, SzBytes(uninstaller + " /S")},
                     {"InstallLocation", REG_SZ, SzBytes(InstallDir())},
                     {"DisplayIcon", REG_SZ, SzBytes(InstalledFile("cadelo.exe") + ",0")},
                     {"NoModify", REG_DWORD, DwordBytes(1)},
                     {"NoRepair", REG_DWORD, DwordBytes(1)},
                     {"EstimatedSize", REG_DWORD, DwordBytes(InstalledKilobytes())}});
  EXPECT_EQ(FileVersionOf(BuiltAgent()), "1.0.0.1");
}

TEST_F(Setup, LeavesSettingsThatExistAsTheyAreWhateverTheirType) {
  struct Seeded {
    const char* name;
    DWORD type;
    std::vector<unsigned char> bytes;
  };
  const std::vector<Seeded> seeded = {
      {"host", REG_DWORD, DwordBytes(7)},
      {"port", REG_SZ, SzBytes("9000")},
      {"mynumber", REG_BINARY, {}},
      {"firstname", REG_SZ, SzBytes("Ann")},
      {"path", REG_SZ, SzBytes("C:\\Old\\cadelo.exe")},
      {"unrelated", REG_SZ, SzBytes("kept")},
  };
  for (const Seeded& value : seeded) {
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, value.name, value.type, value.bytes));
  }

  ASSERT_EQ(RunSetup("/S"), 0);

  ExpectExactValues(View::k32, HKEY_CURRENT_USER, kSettingsKey,
                    {{"host", REG_DWORD, DwordBytes(7)},
                     {"port", REG_SZ, SzBytes("9000")},
                     {"mynumber", REG_BINARY, {}},
                     {"firstname", REG_SZ, SzBytes("Ann")},
                     {"lastname", REG_SZ, SzBytes("")},
                     {"path", REG_SZ, SzBytes(InstalledFile("cadelo.exe"))},
                     {"unrelated", REG_SZ, SzBytes("kept")}});
}

TEST_F(Setup, EndsAnAgentStartedFromTheInstallationAndReplacesIt) {
  ASSERT_EQ(RunSetup("/S"), 0);
  harness::Process agent = StartAgentAsTheUserDoes();
  ASSERT_TRUE(agent.Started());
  ASSERT_TRUE(WaitFor([&] { return HasVisibleWindow(agent.Pid()); }, kProcessTimeoutMs));
  WaitForRegistrationToEnd();

  ASSERT_EQ(RunSetup("/S"), 0);

  ASSERT_TRUE(agent.WaitForExit(kProcessTimeoutMs));
  EXPECT_EQ(agent.ExitCode(), 0u);
  EXPECT_THAT(FileNamesIn(InstallDir()), UnorderedElementsAreArray(ExpectedFiles()));
  EXPECT_TRUE(FileContent(InstalledFile("cadelo.exe")) == FileContent(BuiltAgent()));
}

TEST_F(Setup, InstallsIntoAFolderOfTheUsersChoice) {
  harness::TempDir temp;
  const std::string folder = temp.File("My Apps") + "\\Brisomel";
  // "/D=" comes last and unquoted, blanks and all.
  ASSERT_EQ(RunSetup("/S /D=" + folder), 0);

  EXPECT_THAT(FileNamesIn(folder), UnorderedElementsAreArray(ExpectedFiles()));
  EXPECT_FALSE(FolderExists(InstallDir()));
  EXPECT_EQ(TextOf(harness::ReadValue(HKEY_CURRENT_USER, kSettingsKey, "path")), folder + "\\cadelo.exe");
  EXPECT_EQ(TextOf(ReadValueIn(View::k32, HKEY_CURRENT_USER, ClassKey(kAddinClsid) + "\\InprocServer32", "")),
            Is64BitWindows() && UserClassesShareViews() ? folder + "\\mervane64.dll" : folder + "\\mervane.dll");
  const std::string quiet = TextOf(harness::ReadValue(HKEY_CURRENT_USER, kUninstallKey, "QuietUninstallString"));
  EXPECT_EQ(quiet, "\"" + folder + "\\uninstall.exe\" /S");
  EXPECT_EQ(ReadShortcut(Shortcut()).target, folder + "\\cadelo.exe");

  ASSERT_EQ(RunCommandLine(quiet), 0);
  EXPECT_TRUE(WaitFor([&] { return !harness::KeyExists(HKEY_CURRENT_USER, kUninstallKey) && !FolderExists(folder); },
                      kProcessTimeoutMs));
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kOutlookAddinKey));
  EXPECT_FALSE(KeyExistsIn(View::k32, HKEY_CURRENT_USER, ClassKey(kAddinClsid)));
}

TEST_F(Setup, WizardInstallsWithTheOfferedChoices) {
  const std::string setupPath = BuiltSetup();
  harness::Process setup = harness::Process::Launch(setupPath, "\"" + setupPath + "\"", ChildEnvironment());
  ASSERT_TRUE(setup.Started());
  HWND wizard = WaitForDialog(setup.Pid(), "Brisomel Setup", [](HWND) { return true; }, kProcessTimeoutMs);
  ASSERT_NE(wizard, nullptr) << DescribeWindowsOf(setup.Pid());

  // Welcome, folder (as offered), then the progress page moves on to the finish page by itself;
  // finish without opening Brisomel.
  for (const char* button : {"&Next >", "&Install", "&Finish"}) {
    ASSERT_TRUE(WaitForButton(wizard, IDOK, button, kProcessTimeoutMs))
        << "waiting for " << button << "; windows:\n" << DescribeWindowsOf(setup.Pid());
    PressButton(wizard, IDOK);
  }
  ASSERT_TRUE(setup.WaitForExit(kProcessTimeoutMs));
  EXPECT_EQ(setup.ExitCode(), 0u);

  EXPECT_THAT(FileNamesIn(InstallDir()), UnorderedElementsAreArray(ExpectedFiles()));
  EXPECT_TRUE(harness::KeyExists(HKEY_CURRENT_USER, kOutlookAddinKey));
  EXPECT_TRUE(harness::KeyExists(HKEY_CURRENT_USER, kUninstallKey));
  EXPECT_TRUE(ProcessesStartedFrom(InstalledFile("cadelo.exe")).empty()) << "Brisomel was opened unasked";
}

// Settings that IT deployed read-only stay as they are and setup goes on; when they name another
// program than the one installed, the user is told that Outlook will not start it.
TEST_F(Setup, LeavesReadOnlySettingsAsTheyAreAndSaysWhenTheyNameAnotherProgram) {
  struct Case {
    const char* name;
    std::string path;
    bool told;
  };
  const Case cases[] = {
      {"another program", "C:\\Other\\cadelo.exe", true},
      {"this installation", InstalledFile("cadelo.exe"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    harness::DeleteTree(HKEY_CURRENT_USER, kSettingsKey);
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "host", REG_SZ, SzBytes("gw.corp")));
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "path", REG_SZ, SzBytes(c.path)));
    harness::ScopedKeyAccess readOnly(HKEY_CURRENT_USER, kSettingsKey, "D:P(A;;KR;;;WD)");
    ASSERT_TRUE(readOnly.Ok());

    const std::string setupPath = BuiltSetup();
    harness::Process setup = harness::Process::Launch(setupPath, "\"" + setupPath + "\"", ChildEnvironment());
    ASSERT_TRUE(setup.Started());
    HWND wizard = WaitForDialog(setup.Pid(), "Brisomel Setup", [](HWND) { return true; }, kProcessTimeoutMs);
    ASSERT_NE(wizard, nullptr) << DescribeWindowsOf(setup.Pid());
    for (const char* button : {"&Next >", "&Install"}) {
      ASSERT_TRUE(WaitForButton(wizard, IDOK, button, kProcessTimeoutMs)) << button;
      PressButton(wizard, IDOK);
    }
    if (c.told) {
      HWND box = WaitForDialog(setup.Pid(), "Brisomel Setup", [](HWND w) { return GetDlgItem(w, 0xFFFF) != nullptr; },
                               kProcessTimeoutMs);
      ASSERT_NE(box, nullptr) << DescribeWindowsOf(setup.Pid());
      EXPECT_EQ(MessageBoxText(box),
                "Your Brisomel settings are read-only and name another Brisomel, or none, so Outlook will not start "
                "this one. Ask your administrator to record this location in them:\r\n" +
                    InstalledFile("cadelo.exe"));
      PressButton(box, IDOK);
    }
    // A box where none belongs holds the installation, and the finish page never comes.
    ASSERT_TRUE(WaitForButton(wizard, IDOK, "&Finish", kProcessTimeoutMs)) << DescribeWindowsOf(setup.Pid());
    PressButton(wizard, IDOK);
    ASSERT_TRUE(setup.WaitForExit(kProcessTimeoutMs));
    EXPECT_EQ(setup.ExitCode(), 0u);

    EXPECT_THAT(FileNamesIn(InstallDir()), UnorderedElementsAreArray(ExpectedFiles()));
    EXPECT_TRUE(harness::KeyExists(HKEY_CURRENT_USER, kOutlookAddinKey));
    ExpectExactValues(View::k32, HKEY_CURRENT_USER, kSettingsKey,
                      {{"host", REG_SZ, SzBytes("gw.corp")}, {"path", REG_SZ, SzBytes(c.path)}});
  }
}

// The agent that Outlook uses is Outlook's to end: setup asks to close Outlook (a silent setup
// answers Cancel) and changes nothing meanwhile; with Outlook closed it goes on.
TEST_F(Setup, AsksToCloseOutlookInsteadOfEndingTheAgentOutlookUses) {
  ASSERT_EQ(RunSetup("/S"), 0);
  harness::Process agent = StartAgentAsTheUserDoes();
  ASSERT_TRUE(agent.Started());
  ASSERT_TRUE(WaitFor([&] { return HasVisibleWindow(agent.Pid()); }, kProcessTimeoutMs));
  WaitForRegistrationToEnd();
  {
    win::Module outlookHoldsIt(LoadLibraryA(InstalledFile(kLoadableAddinFile).c_str()));
    ASSERT_TRUE(outlookHoldsIt);
    EXPECT_EQ(RunSetup("/S"), 2);
    EXPECT_TRUE(agent.Running()) << "setup ended an agent while Outlook held the add-in";
    EXPECT_THAT(FileNamesIn(InstallDir()), UnorderedElementsAreArray(ExpectedFiles()));
  }
  ASSERT_EQ(RunSetup("/S"), 0);
  EXPECT_TRUE(agent.WaitForExit(kProcessTimeoutMs)) << "the agent the user opened is ended as before";
}

// A folder that other software shares keeps that software's uninstall.exe; ours gets a name of
// its own, which Add/Remove Programs runs and which removes only itself.
TEST_F(Setup, AFolderSharedWithOtherSoftwareKeepsItsUninstaller) {
  harness::TempDir temp;
  const std::string folder = temp.File("Tools");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string theirs = folder + "\\uninstall.exe";
  const std::string theirContent = "another program's uninstaller";
  {
    win::FileHandle file(CreateFileA(theirs.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), theirContent.data(), static_cast<DWORD>(theirContent.size()), &written, nullptr));
  }

  ASSERT_EQ(RunSetup("/S /D=" + folder), 0);
  EXPECT_EQ(FileContent(theirs), theirContent);
  const std::string ours = folder + "\\Uninstall Brisomel.exe";
  EXPECT_TRUE(FileExists(ours));
  const std::string quiet = TextOf(harness::ReadValue(HKEY_CURRENT_USER, kUninstallKey, "QuietUninstallString"));
  EXPECT_EQ(quiet, "\"" + ours + "\" /S");

  ASSERT_EQ(RunCommandLine(quiet), 0);
  EXPECT_TRUE(WaitFor([&] { return !harness::KeyExists(HKEY_CURRENT_USER, kUninstallKey) && !FileExists(ours); },
                      kProcessTimeoutMs));
  EXPECT_FALSE(FileExists(folder + "\\cadelo.exe"));
  EXPECT_EQ(FileContent(theirs), theirContent);
}

TEST(SetupProgram, AsksForNoAdministratorRights) {
  win::Module setup(LoadLibraryExA(BuiltSetup().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(setup);
  HRSRC resource = FindResourceA(setup.get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(resource, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(setup.get(), resource)));
  ASSERT_NE(data, nullptr);
  const std::string manifest(data, SizeofResource(setup.get(), resource));
  EXPECT_NE(manifest.find("requestedExecutionLevel level=\"asInvoker\""), std::string::npos) << manifest;
}

}  // namespace
}  // namespace installer_test
