#include "tests/installer/installation.h"

#include <shlobj.h>

#include <fstream>
#include <iterator>

#include "common/win/handles.h"
#include "tests/harness/paths.h"
#include "tests/harness/registry.h"
#include "tests/installer/registry_view.h"

namespace installer_test {

namespace {

constexpr int kSetupTimeoutMs = 120000;

std::string FolderPath(int csidl) {
  char path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::string();
  return path;
}

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                    static_cast<int>(wide.size()));
  wide.resize(n > 0 ? n : 0);
  return wide;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::FindClose(h); }
};

// Calls visit with each entry that matches the pattern (e.g. "C:\x\*").
template <typename Visit>
void ForEachEntry(const std::string& pattern, Visit visit) {
  WIN32_FIND_DATAA found;
  win::UniqueHandle<FindHandleTraits> search(FindFirstFileA(pattern.c_str(), &found));
  if (!search) return;
  do {
    visit(found);
  } while (FindNextFileA(search.get(), &found));
}

int WaitForExitCode(harness::Process& process) {
  if (!process.Started() || !process.WaitForExit(kSetupTimeoutMs)) return -1;
  return static_cast<int>(process.ExitCode());
}

void RemoveFolder(const std::string& folder) {
  // A program that just ended may still hold its file for a moment.
  WaitFor([&] { return harness::RemoveTree(folder); }, 10000);
}

// The uninstaller's copies of itself (%TEMP%\~nsu*.tmp\Un.exe), which it cannot delete, and
// the helper folders (%TEMP%\nsp*.tmp) of a setup or uninstaller that a failed test ended.
void RemoveSetupLeftovers() {
  char temp[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof temp, temp);
  if (n == 0 || n > MAX_PATH) return;
  const std::string folder(temp, n);
  ForEachEntry(folder + "~nsu*.tmp", [&](const WIN32_FIND_DATAA& found) {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveFolder(folder + found.cFileName);
  });
  ForEachEntry(folder + "nsp*.tmp", [&](const WIN32_FIND_DATAA& found) {
    const std::string helpers = folder + found.cFileName;
    if (FileExists(helpers + "\\stop-agents.exe")) RemoveFolder(helpers);
  });
}

}  // namespace

std::string ClassKey(const std::string& clsid) { return "Software\\Classes\\CLSID\\" + clsid; }
std::string ProgIdKey(const std::string& progId) { return "Software\\Classes\\" + progId; }

std::string InstallDir() { return FolderPath(CSIDL_LOCAL_APPDATA) + "\\Programs\\Brisomel"; }
std::string InstalledFile(const std::string& name) { return InstallDir() + "\\" + name; }
std::string ShortcutFolder() { return FolderPath(CSIDL_PROGRAMS) + "\\Brisomel"; }
std::string Shortcut() { return ShortcutFolder() + "\\Brisomel.lnk"; }

std::string BuiltSetup() { return harness::WinePath(SETUP_EXE); }
std::string BuiltAgent() { return harness::WinePath(CADELO_EXE); }
std::string BuiltAddin32() { return harness::WinePath(ADDIN32_DLL); }
std::string BuiltAddin64() { return harness::WinePath(ADDIN64_DLL); }
std::string BuiltStopAgents() { return harness::WinePath(STOP_AGENTS_EXE); }
std::string BuiltIdleProgram() { return harness::WinePath(IDLE_EXE); }
#ifdef SIM32_EXE
std::wstring Sim32Exe() { return Wide(harness::WinePath(SIM32_EXE)); }
#else
std::wstring Sim32Exe() { return std::wstring(); }
#endif
std::wstring Sim64Exe() { return Wide(harness::WinePath(SIM64_EXE)); }

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::vector<std::pair<std::string, std::string>> ChildEnvironment() {
  char overrides[1024] = {};
  const DWORD n = GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
  std::string value = n > 0 && n < sizeof overrides ? std::string(overrides, n) + ";" : std::string();
  return {{"WINEDLLOVERRIDES", value + "winemenubuilder.exe=d"}};
}

int RunSetup(const std::string& arguments) {
  harness::Process setup =
      harness::Process::Launch(BuiltSetup(), Quoted(BuiltSetup()) + " " + arguments, ChildEnvironment());
  return WaitForExitCode(setup);
}

int RunSetup(const std::wstring& arguments) {
  const std::wstring setup = Wide(BuiltSetup());
  harness::Process process =
      harness::Process::Launch(setup, L"\"" + setup + L"\" " + arguments, ChildEnvironment());
  return WaitForExitCode(process);
}

harness::Process StartUninstaller(const std::string& folder, const std::string& arguments) {
  const std::string copy = folder + "\\un.exe";
  if (!CopyFileA(InstalledFile("uninstall.exe").c_str(), copy.c_str(), FALSE)) return harness::Process();
  // "_?=" comes last and unquoted: everything after it is the folder.
  const std::string commandLine =
      Quoted(copy) + (arguments.empty() ? "" : " " + arguments) + " _?=" + InstallDir();
  return harness::Process::Launch(copy, commandLine, ChildEnvironment());
}

int RunUninstaller(const std::string& arguments) {
  harness::TempDir folder;
  harness::Process uninstaller = StartUninstaller(folder.Path(), arguments);
  return WaitForExitCode(uninstaller);
}

int RunCommandLine(const std::string& commandLine) {
  std::string program;
  if (!commandLine.empty() && commandLine[0] == '"') {
    program = commandLine.substr(1, commandLine.find('"', 1) - 1);
  } else {
    program = commandLine.substr(0, commandLine.find(' '));
  }
  harness::Process process = harness::Process::Launch(program, commandLine, ChildEnvironment());
  return WaitForExitCode(process);
}

void RemoveEverything() {
  if (FileExists(InstalledFile("cadelo.exe"))) {
    const std::string stop = BuiltStopAgents();
    harness::Process stopper =
        harness::Process::Launch(stop, Quoted(stop) + " " + Quoted(InstalledFile("cadelo.exe")));
    WaitForExitCode(stopper);
  }
  RemoveFolder(InstallDir());
  RemoveFolder(ShortcutFolder());
  RemoveSetupLeftovers();
  for (View view : Views()) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      DeleteTreeIn(view, root, ClassKey(kAddinClsid));
      DeleteTreeIn(view, root, ProgIdKey(kAddinProgId));
      DeleteTreeIn(view, root, ClassKey(kDocumentClsid));
      DeleteTreeIn(view, root, ProgIdKey(kDocumentProgId));
    }
  }
  harness::DeleteTree(HKEY_CURRENT_USER, kOutlookAddinKey);
  harness::DeleteTree(HKEY_CURRENT_USER, kUninstallKey);
  harness::DeleteTree(HKEY_CURRENT_USER, "Software\\Brisomel\\tarnwick");
  harness::DeleteTree(HKEY_CURRENT_USER, kProfileKey);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Brisomel");  // only when nothing else is below it
}

std::vector<std::string> FileNamesIn(const std::string& folder) {
  std::vector<std::string> names;
  ForEachEntry(folder + "\\*", [&](const WIN32_FIND_DATAA& found) {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
  });
  return names;
}

std::string FileContent(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace installer_test
