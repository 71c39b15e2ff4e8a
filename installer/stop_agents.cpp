// stop-agents: ends every running process started from one executable file and waits for each
// to end. Setup runs it before it replaces the agent and the uninstaller before it removes it:
// Windows refuses to overwrite or delete a program while it runs. Agents started from another
// folder (another copy of the program) are left alone.
//   stop-agents "<full path of cadelo.exe>"
// Exit code: 0 when no such process is left, 1 for a usage error, 2 when one could not be ended.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <string>

#include "common/win/handles.h"

namespace {

constexpr int kUsageError = 1;
constexpr int kStillRunning = 2;
constexpr DWORD kEndTimeoutMs = 10000;

bool SameText(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// The long, absolute form of a path, so that "C:\PROGRA~1\x.exe" and "c:\Program Files\x.exe" match.
std::wstring CanonicalPath(const std::wstring& path) {
  wchar_t full[MAX_PATH * 4];
  DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
  if (length == 0 || length >= MAX_PATH * 4) return path;
  wchar_t longForm[MAX_PATH * 4];
  const DWORD longLength = ::GetLongPathNameW(full, longForm, MAX_PATH * 4);
  if (longLength == 0 || longLength >= MAX_PATH * 4) return full;  // file gone: compare as given
  return longForm;
}

std::wstring FileNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ImagePathOf(HANDLE process) {
  wchar_t buffer[MAX_PATH * 4];
  DWORD length = MAX_PATH * 4;
  if (!::QueryFullProcessImageNameW(process, 0, buffer, &length)) return std::wstring();
  return CanonicalPath(std::wstring(buffer, length));
}

// Ends the process when it runs `target`; false only when it does and could not be ended.
bool EndIfStartedFrom(DWORD pid, const std::wstring& target) {
  win::KernelHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  if (!process) return true;  // gone meanwhile, or another user's: not ours to end
  if (!SameText(ImagePathOf(process.get()), target)) return true;
  ::TerminateProcess(process.get(), 0);  // exit code 0, as the add-in ends the agent
  return ::WaitForSingleObject(process.get(), kEndTimeoutMs) == WAIT_OBJECT_0;
}

int StopAgents(const std::wstring& target) {
  const std::wstring fileName = FileNameOf(target);
  win::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return kStillRunning;
  bool allEnded = true;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == ::GetCurrentProcessId() || !SameText(entry.szExeFile, fileName)) continue;
    allEnded = EndIfStartedFrom(entry.th32ProcessID, target) && allEnded;
  }
  return allEnded ? 0 : kStillRunning;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv) return kUsageError;
  const std::wstring target = argc == 2 && argv[1][0] != L'\0' ? CanonicalPath(argv[1]) : std::wstring();
  ::LocalFree(argv);
  if (target.empty()) return kUsageError;
  return StopAgents(target);
}
