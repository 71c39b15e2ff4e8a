// The Windows Installer package under Wine's own msiexec: per user and per machine, exactly the
// files and registry rows the README lists; per machine, a major upgrade over the older twin,
// Outlook (the simulator) loading the add-in from the machine-wide key for a user who never
// started Brisomel, with the machine's policy host and port winning over the user's policy and
// the user's own, the NSIS setup refusing to install beside it, a repair and an uninstall that
// leaves only the user's settings; and the package refusing to install over the NSIS setup.
//
// Wine's msi (unlike Windows Installer 5) ignores MSIINSTALLPERUSER and makes ALLUSERS=2 a
// per-machine installation; it also maps HKMU rows by the ALLUSERS of each run, not by the
// installed product's context. The per-user tests therefore say ALLUSERS="" (the per-user
// context, as Windows gives ALLUSERS=2 MSIINSTALLPERUSER=1) to every msiexec run. Under Wine the
// user's classes are not merged into HKCR, so the simulator cannot load a per-user installation's
// add-in; the NSIS setup's tests show Outlook loading a per-user add-in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>
#include <ole2.h>
#include <shlobj.h>

#include <algorithm>

#include "common/win/com_ptr.h"
#include "tests/harness/message_box_watcher.h"
#include "tests/harness/process.h"
#include "tests/harness/registry.h"
#include "tests/harness/paths.h"
#include "tests/installer/agent_processes.h"
#include "tests/installer/expectations.h"
#include "tests/installer/installation.h"
#include "tests/installer/registry_view.h"
#include "tools/gateway/gateway_server.h"
#include "tools/outlook-sim/driver/sim_driver.h"

namespace installer_test {
namespace {

using harness::DwordBytes;
using harness::SzBytes;
using ::testing::UnorderedElementsAre;

constexpr char kUpgradeCode[] = MSI_UPGRADE_CODE;
constexpr char kPolicyKey[] = "Software\\Policies\\Brisomel\\tarnwick\\1.0";
constexpr char kNsisUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brisomel";
constexpr int kMsiexecTimeoutMs = 120000;
constexpr DWORD kTimeoutMs = 60000;
constexpr int kInstallFailure = 1603;  // ERROR_INSTALL_FAILURE: a launch condition said no

std::string Folder(int csidl) {
  char path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::string();
  return path;
}

std::string MachineDir() { return Folder(CSIDL_PROGRAM_FILES) + "\\Brisomel"; }
std::string UserDir() { return Folder(CSIDL_LOCAL_APPDATA) + "\\Programs\\Brisomel"; }

std::string BuiltMsi() { return harness::WinePath(MSI_FILE); }
std::string BuiltOlderMsi() { return harness::WinePath(OLDER_MSI_FILE); }

// msiexec with the arguments, waited for: its exit code, or -1.
int Msiexec(const std::string& arguments) {
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  const std::string msiexec = std::string(system) + "\\msiexec.exe";
  harness::Process process =
      harness::Process::Launch(msiexec, "\"" + msiexec + "\" " + arguments, ChildEnvironment());
  if (!process.Started() || !process.WaitForExit(kMsiexecTimeoutMs)) return -1;
  return static_cast<int>(process.ExitCode());
}

// The installed products of the package's upgrade code, with their versions.
std::vector<std::string> InstalledVersions() {
  std::vector<std::string> versions;
  for (DWORD i = 0;; ++i) {
    char product[39] = {};
    if (MsiEnumRelatedProductsA(kUpgradeCode, 0, i, product) != ERROR_SUCCESS) break;
    char version[64] = {};
    DWORD size = sizeof version;
    MsiGetProductInfoA(product, INSTALLPROPERTY_VERSIONSTRING, version, &size);
    versions.emplace_back(version);
  }
  return versions;
}

std::string ProductCodeInstalled() {
  char product[39] = {};
  return MsiEnumRelatedProductsA(kUpgradeCode, 0, 0, product) == ERROR_SUCCESS ? product : std::string();
}

// The all-users Start menu, where Windows Installer puts a per-machine installation's shortcut;
// Wine's msi resolves ProgramMenuFolder to the user's whatever the context.
int MachineMenu() { return RunningUnderWine() ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS; }

std::string Shortcut(int csidl) { return Folder(csidl) + "\\Brisomel\\Brisomel.lnk"; }

std::string ShortcutTarget(const std::string& path) {
  win::ComPtr<IShellLinkA> link;
  win::ComPtr<IPersistFile> file;
  const std::wstring wide(path.begin(), path.end());
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.put_void())) ||
      FAILED(link.As(IID_IPersistFile, &file)) || FAILED(file->Load(wide.c_str(), STGM_READ))) {
    return std::string();
  }
  char target[MAX_PATH] = {};
  return SUCCEEDED(link->GetPath(target, sizeof target, nullptr, 0)) ? target : std::string();
}

// Every installation of either package ends here, with what the tests wrote: each test starts
// and leaves the prefix clean.
void RemoveMsiInstallations() {
  for (int tries = 0; tries < 3; ++tries) {
    const std::string product = ProductCodeInstalled();
    if (product.empty()) break;
    Msiexec("/x " + product + " /qn");
    if (ProductCodeInstalled() == product) Msiexec("/x " + product + " /qn ALLUSERS=\"\"");
  }
  for (const std::string& folder : {MachineDir(), UserDir(), Folder(CSIDL_COMMON_PROGRAMS) + "\\Brisomel"}) {
    WaitFor([&] { return harness::RemoveTree(folder); }, 10000);
  }
  for (View view : Views()) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      DeleteTreeIn(view, root, kOutlookAddinKey);
      DeleteTreeIn(view, root, "Software\\Brisomel\\tarnwick");
      DeleteTreeIn(view, root, "Software\\Policies\\Brisomel");
    }
  }
}

class MsiSlate {
 public:
  MsiSlate() {
    RemoveMsiInstallations();
    RemoveEverything();
  }
  ~MsiSlate() {
    RemoveMsiInstallations();
    RemoveEverything();
  }
  MsiSlate(const MsiSlate&) = delete;
  MsiSlate& operator=(const MsiSlate&) = delete;
};

class WindowsInstaller : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
  void TearDown() override { OleUninitialize(); }

  MsiSlate slate_;
};

std::vector<std::string> PackageFiles() { return {"cadelo.exe", "mervane.dll", "mervane64.dll"}; }

void ExpectPackageFilesIn(const std::string& folder) {
  EXPECT_THAT(FileNamesIn(folder), ::testing::UnorderedElementsAreArray(PackageFiles()));
  EXPECT_TRUE(FileContent(folder + "\\cadelo.exe") == FileContent(BuiltAgent())) << "cadelo.exe differs";
  EXPECT_TRUE(FileContent(folder + "\\mervane.dll") == FileContent(BuiltAddin32())) << "mervane.dll differs";
  EXPECT_TRUE(FileContent(folder + "\\mervane64.dll") == FileContent(BuiltAddin64())) << "mervane64.dll differs";
}

// The rows of the README's table, under root (HKLM per machine, HKCU per user), for each view.
// `addinOfView` names the add-in each view's class names.
template <typename AddinOfView>
void ExpectRegistration(HKEY root, const std::string& folder, AddinOfView addinOfView) {
  const std::string agent = folder + "\\cadelo.exe";
  for (View view : Views()) {
    SCOPED_TRACE(ViewName(view));
    ExpectAddinClass(view, root, addinOfView(view));
    ExpectExactValues(view, root, kOutlookAddinKey,
                      {{"LoadBehavior", REG_DWORD, DwordBytes(3)},
                       {"CommandLineSafe", REG_DWORD, DwordBytes(0)},
                       {"FriendlyName", REG_SZ, SzBytes(kAddinDescription)},
                       {"Description", REG_SZ, SzBytes(kAddinDescription)}});
    ExpectExactValues(view, root, kSettingsKey, {{"path", REG_SZ, SzBytes(agent)}});
  }
  const std::string documentClass = ClassKey(kDocumentClsid);
  ExpectExactValues(kAgentView, root, ProgIdKey(kDocumentProgId), {{"", REG_SZ, SzBytes("Cadel Document")}});
  ExpectExactValues(kAgentView, root, ProgIdKey(kDocumentProgId) + "\\CLSID", {{"", REG_SZ, SzBytes(kDocumentClsid)}});
  ExpectExactValues(kAgentView, root, documentClass, {{"", REG_SZ, SzBytes("Cadel Document")}});
  EXPECT_THAT(SubkeyNamesIn(kAgentView, root, documentClass), UnorderedElementsAre("LocalServer32", "ProgID"));
  ExpectExactValues(kAgentView, root, documentClass + "\\ProgID", {{"", REG_SZ, SzBytes(kDocumentProgId)}});
  ExpectExactValues(kAgentView, root, documentClass + "\\LocalServer32", {{"", REG_SZ, SzBytes("\"" + agent + "\"")}});
}

void ExpectNothingOfTheAddinIn(HKEY root) {
  for (View view : Views()) {
    SCOPED_TRACE(ViewName(view));
    EXPECT_FALSE(KeyExistsIn(view, root, ClassKey(kAddinClsid)));
    EXPECT_FALSE(KeyExistsIn(view, root, ProgIdKey(kAddinProgId)));
    EXPECT_FALSE(KeyExistsIn(view, root, ClassKey(kDocumentClsid)));
    EXPECT_FALSE(KeyExistsIn(view, root, ProgIdKey(kDocumentProgId)));
    EXPECT_FALSE(KeyExistsIn(view, root, kOutlookAddinKey));
  }
}

TEST_F(WindowsInstaller, PerUserInstallGivesTheListedFilesAndRowsAndUninstallKeepsOnlyTheSettings) {
  ASSERT_EQ(Msiexec("/i \"" + BuiltMsi() + "\" /qn ALLUSERS=\"\""), 0);

  ExpectPackageFilesIn(UserDir());
  EXPECT_FALSE(FolderExists(MachineDir()));
  EXPECT_EQ(ShortcutTarget(Shortcut(CSIDL_PROGRAMS)), UserDir() + "\\cadelo.exe");
  // Where Wine keeps one HKCU\Software\Classes\CLSID for both views, the 64-bit add-in's row is
  // written last.
  ExpectRegistration(HKEY_CURRENT_USER, UserDir(), [](View view) {
    return UserDir() + (view == View::k64 || UserClassesShareViews() ? "\\mervane64.dll" : "\\mervane.dll");
  });
  ExpectNothingOfTheAddinIn(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(KeyExistsIn(View::k64, HKEY_LOCAL_MACHINE, kSettingsKey));

  // The user's own settings since (Setup, or the agent's first start).
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "host", REG_SZ, SzBytes("gw.example")));
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kSettingsKey, "port", REG_DWORD, DwordBytes(8200)));
  ASSERT_EQ(Msiexec("/x \"" + BuiltMsi() + "\" /qn ALLUSERS=\"\""), 0);

  EXPECT_FALSE(FolderExists(UserDir()));
  EXPECT_FALSE(FolderExists(Folder(CSIDL_PROGRAMS) + "\\Brisomel"));
  ExpectNothingOfTheAddinIn(HKEY_CURRENT_USER);
  ExpectExactValues(View::k64, HKEY_CURRENT_USER, kSettingsKey,
                    {{"host", REG_SZ, SzBytes("gw.example")}, {"port", REG_DWORD, DwordBytes(8200)}});
  EXPECT_TRUE(InstalledVersions().empty());
}

// Outlook, started by a user who never started Brisomel, loads the machine's add-in, which
// starts the installed agent; the reminder goes to the gateway that the machine's policy names.
void ExpectOutlookCallsThroughThePolicysGateway(gateway::Server& gateway) {
  harness::MessageBoxWatcher agentBoxes("Brisomel");
  harness::MessageBoxWatcher addinBoxes("Brisomel Addin");
  ASSERT_TRUE(simdriver::SimProcess(Sim64Exe()).Register());
  simdriver::SimProcess outlook(Sim64Exe());
  ASSERT_TRUE(outlook.Start(
      "item 1 class \"IPM.Appointment.ReminderCall\" start +15m minutes 15\n"
      "item 1 subject \"Budget review\"\n"
      "item 1 prop notifycall text \"555-0100\"\n"
      "wait-advise 60s\n"
      "fire 1\n"
      "sleep 120s\n"));
  EXPECT_TRUE(simdriver::PumpUntil([&] { return gateway.RequestCount() >= 1; }, kTimeoutMs)) << [&] {
    std::string text;
    for (const std::string& line : outlook.Log()) text += line + "\n";
    return text;
  }();
  EXPECT_EQ(ProcessesStartedFrom(MachineDir() + "\\cadelo.exe").size(), 1u);
  outlook.RequestQuit();
  DWORD exitCode = 1;
  EXPECT_TRUE(outlook.WaitForExit(kTimeoutMs, &exitCode));
  simdriver::SimProcess(Sim64Exe()).Unregister();
  const std::vector<std::string> log = outlook.Log();
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
    return line.rfind("Addin Brisomel.Addin OnStartupComplete hr=0x00000000", 0) == 0;
  }));
  ASSERT_EQ(gateway.RequestCount(), 1u);
  EXPECT_EQ(gateway.Requests()[0].body.rfind("calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=", 0), 0u);
  EXPECT_TRUE(WaitFor([] { return ProcessesStartedFrom(MachineDir() + "\\cadelo.exe").empty(); }, 10000));
  EXPECT_EQ(agentBoxes.Count(), 0u);
  EXPECT_EQ(addinBoxes.Count(), 0u);
}

TEST_F(WindowsInstaller, PerMachineUpgradeServesEveryUserAndUninstallKeepsOnlyTheSettings) {
  ASSERT_EQ(Msiexec("/i \"" + BuiltOlderMsi() + "\" /qn ALLUSERS=1"), 0);
  ASSERT_THAT(InstalledVersions(), UnorderedElementsAre("1.0.0.0"));

  // The major upgrade: the older version goes, the newer one is the only one installed.
  ASSERT_EQ(Msiexec("/i \"" + BuiltMsi() + "\" /qn ALLUSERS=1"), 0);
  EXPECT_THAT(InstalledVersions(), UnorderedElementsAre("1.0.0.1"));
  ExpectPackageFilesIn(MachineDir());
  EXPECT_EQ(ShortcutTarget(Shortcut(MachineMenu())), MachineDir() + "\\cadelo.exe");
  ExpectRegistration(HKEY_LOCAL_MACHINE, MachineDir(), [](View view) {
    return MachineDir() + (view == View::k64 ? "\\mervane64.dll" : "\\mervane.dll");
  });
  // Nothing for the user: their settings come at their first start.
  EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  ExpectNothingOfTheAddinIn(HKEY_CURRENT_USER);

  {
    SCOPED_TRACE("the NSIS setup beside it");
    EXPECT_EQ(RunSetup("/S"), 2);
    EXPECT_FALSE(FolderExists(InstallDir()));
    EXPECT_FALSE(harness::KeyExists(HKEY_CURRENT_USER, kNsisUninstallKey));
  }

  {
    SCOPED_TRACE("Outlook of a user who never started Brisomel");
    gateway::Server gateway;
    ASSERT_TRUE(gateway.Start());
    gateway.SetAnswer({200, "OK", "[41]"});
    ASSERT_TRUE(harness::WriteValue(HKEY_LOCAL_MACHINE, kPolicyKey, "host", REG_SZ, SzBytes("127.0.0.1")));
    ASSERT_TRUE(harness::WriteValue(HKEY_LOCAL_MACHINE, kPolicyKey, "port", REG_DWORD, DwordBytes(gateway.Port())));
    // The user's policy loses to the machine's: nothing listens there.
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kPolicyKey, "host", REG_SZ, SzBytes("user-policy.invalid")));
    ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kPolicyKey, "port", REG_DWORD, DwordBytes(9)));
    ExpectOutlookCallsThroughThePolicysGateway(gateway);
    // The agent's first start gave the user the default settings, which the policy overrode.
    ExpectExactValues(View::k64, HKEY_CURRENT_USER, kSettingsKey,
                      {{"host", REG_SZ, SzBytes("localhost")},
                       {"port", REG_DWORD, DwordBytes(8155)},
                       {"mynumber", REG_SZ, SzBytes("")},
                       {"firstname", REG_SZ, SzBytes("")},
                       {"lastname", REG_SZ, SzBytes("")}});
  }

  {
    SCOPED_TRACE("repair");
    ASSERT_TRUE(DeleteFileA((MachineDir() + "\\mervane64.dll").c_str()));
    // msiexec /fa, in the form of its properties: Wine's msiexec /f takes the package's name for a
    // product code (1605) and does not repair by product code.
    ASSERT_EQ(Msiexec("/i \"" + BuiltMsi() + "\" /qn REINSTALL=ALL REINSTALLMODE=a"), 0);
    ExpectPackageFilesIn(MachineDir());
  }

  // The user opens Brisomel from the Start menu: the machine's registration serves, so nothing of
  // the user's names the machine's files; the removal ends the running agent.
  const std::string agentPath = MachineDir() + "\\cadelo.exe";
  harness::Process agent = harness::Process::Launch(agentPath, "\"" + agentPath + "\"");
  ASSERT_TRUE(agent.Started());
  ASSERT_TRUE(WaitFor([&] {
    for (HWND window : harness::FindTopLevelWindows(agent.Pid())) {
      if (IsWindowVisible(window)) return true;
    }
    return false;
  }, kTimeoutMs));
  EXPECT_FALSE(harness::ReadValue(HKEY_CURRENT_USER, kSettingsKey, "path").exists);
  EXPECT_TRUE(ProcessesNamed("regsvr32.exe").empty());
  ExpectNothingOfTheAddinIn(HKEY_CURRENT_USER);

  ASSERT_EQ(Msiexec("/x \"" + BuiltMsi() + "\" /qn"), 0);
  ASSERT_TRUE(agent.WaitForExit(kTimeoutMs)) << "the removal did not end the running agent";
  EXPECT_TRUE(InstalledVersions().empty());
  EXPECT_FALSE(FolderExists(MachineDir()));
  EXPECT_FALSE(FolderExists(Folder(MachineMenu()) + "\\Brisomel"));
  ExpectNothingOfTheAddinIn(HKEY_LOCAL_MACHINE);
  for (View view : Views()) EXPECT_FALSE(KeyExistsIn(view, HKEY_LOCAL_MACHINE, kSettingsKey)) << ViewName(view);
  ExpectNothingOfTheAddinIn(HKEY_CURRENT_USER);
  EXPECT_TRUE(harness::KeyExists(HKEY_CURRENT_USER, kSettingsKey)) << "the user's settings stay";
}

// The NSIS setup installed Brisomel for this user: the package says no (a launch condition) and
// installs nothing.
TEST_F(WindowsInstaller, RefusesWhereTheSetupInstalledForTheUser) {
  ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, kNsisUninstallKey, "UninstallString", REG_SZ,
                                  SzBytes("\"" + InstalledFile("uninstall.exe") + "\"")));
  EXPECT_EQ(Msiexec("/i \"" + BuiltMsi() + "\" /qn ALLUSERS=1"), kInstallFailure);
  EXPECT_TRUE(InstalledVersions().empty());
  EXPECT_FALSE(FolderExists(MachineDir()));
  ExpectNothingOfTheAddinIn(HKEY_LOCAL_MACHINE);
}

}  // namespace
}  // namespace installer_test
