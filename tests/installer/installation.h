#pragma once
// The product as setup installs it for the current user: where its files, shortcut and registry
// keys go, the built programs the tests use, running setup and the uninstaller, and removing
// every trace of an installation so that each test starts and ends clean (the Wine prefix is
// shared by all tests).
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/harness/process.h"
#include "tests/installer/registry_view.h"

namespace installer_test {

inline constexpr char kAddinClsid[] = "{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}";
inline constexpr char kAddinProgId[] = "Brisomel.Addin";
inline constexpr char kAddinDescription[] = "Brisomel COM Addin";
inline constexpr char kOutlookAddinKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins\\Brisomel.Addin";
inline constexpr char kSettingsKey[] = "Software\\Brisomel\\tarnwick\\1.0";
inline constexpr char kProfileKey[] = "Software\\Brisomel\\Brisomel";
inline constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brisomel";
inline constexpr char kDocumentClsid[] = "{B27E5F90-4C1A-4D3E-8F62-07A9D3C15E4B}";
inline constexpr char kDocumentProgId[] = "Cadelo.Document";

// "Software\Classes\CLSID\<clsid>" and "Software\Classes\<progId>" (HKCU or HKLM).
std::string ClassKey(const std::string& clsid);
std::string ProgIdKey(const std::string& progId);

// Where setup puts the product for the current user.
std::string InstallDir();  // %LOCALAPPDATA%\Programs\Brisomel
std::string InstalledFile(const std::string& name);
std::string ShortcutFolder();  // the user's Start menu\Programs\Brisomel
std::string Shortcut();        // ...\Brisomel.lnk

// The setup under test comes from the build tree of these tests: its agent has their bitness, and
// so has the one add-in of the two that this process can load.
inline constexpr bool kSetupIs64Bit = sizeof(void*) == 8;
inline constexpr const char* kLoadableAddinFile = kSetupIs64Bit ? "mervane64.dll" : "mervane.dll";
// The registry view in which the installed agent registers its document type.
inline constexpr View kAgentView = kSetupIs64Bit ? View::k64 : View::k32;

// The built programs, as Windows paths.
std::string BuiltSetup();
std::string BuiltAgent();
std::string BuiltAddin32();
std::string BuiltAddin64();
std::string BuiltStopAgents();
std::string BuiltIdleProgram();
// The Outlook simulators: the 64-bit one always, the 32-bit one only for the 32-bit tests (empty
// elsewhere: 64-bit test machines need not run 32-bit programs).
std::wstring Sim32Exe();
std::wstring Sim64Exe();

bool RunningUnderWine();

// Variables for the programs the tests start: Wine's menu builder stays off, so that the
// Start-menu shortcut does not reach the Linux desktop's menus.
std::vector<std::pair<std::string, std::string>> ChildEnvironment();

// Runs setup with the arguments (e.g. "/S") and waits for its end: its exit code, or -1 when it
// did not start or did not end in time.
int RunSetup(const std::string& arguments);
// The same with a wide command line, for a folder the ANSI code page cannot spell.
int RunSetup(const std::wstring& arguments);
// Runs the installed uninstaller on the installation and waits for its end: a copy of it, started
// with "_?=<install folder>", as the uninstaller itself does when started from its folder, only
// waited for. Its exit code (0 done, 2 stopped), or -1.
int RunUninstaller(const std::string& arguments);
// The same, without waiting (for a test that drives its windows). The copy lives in `folder`.
harness::Process StartUninstaller(const std::string& folder, const std::string& arguments);

// Runs the command line exactly as given (e.g. the QuietUninstallString) and waits for the
// process it starts: its exit code, or -1.
int RunCommandLine(const std::string& commandLine);

// Ends agents started from the installed cadelo.exe and removes every file, shortcut and
// registry key (both views) that an installation, the agent's own visible start or the
// uninstaller's copy of itself leaves.
void RemoveEverything();

class CleanSlate {
 public:
  CleanSlate() { RemoveEverything(); }
  ~CleanSlate() { RemoveEverything(); }
  CleanSlate(const CleanSlate&) = delete;
  CleanSlate& operator=(const CleanSlate&) = delete;
};

// Names of the files (not folders) directly in a folder.
std::vector<std::string> FileNamesIn(const std::string& folder);
std::string FileContent(const std::string& path);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

// Waits for the condition, checking every 50 ms; true when it held in time.
template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs) {
  for (int waited = 0;; waited += 50) {
    if (condition()) return true;
    if (waited >= timeoutMs) return false;
    Sleep(50);
  }
}

}  // namespace installer_test
