#include "agent/outlook/outlook_process.h"

#include <objbase.h>
#include <tlhelp32.h>

#include <string>
#include <utility>

#include "agent/outlook/outlook_rules.h"

namespace {

uint64_t FileTimeCount(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The registered program of "Outlook.Application" (its LocalServer32), in either registry view
// (a 32-bit agent may serve a 64-bit Outlook), as a full long path where it exists.
WideText OutlookServerProgram() {
  CLSID clsid{};
  if (FAILED(::CLSIDFromProgID(L"Outlook.Application", &clsid))) return WideText();
  wchar_t clsidText[40] = {};
  if (::StringFromGUID2(clsid, clsidText, 40) == 0) return WideText();
  const WideText path = WideText(L"CLSID\\") + clsidText + L"\\LocalServer32";
  const REGSAM views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
  for (const REGSAM view : views) {
    win::RegKey server;
    wchar_t command[2048] = {};
    DWORD size = sizeof command - sizeof(wchar_t);
    // RRF_RT_REG_SZ also takes a REG_EXPAND_SZ value, expanded.
    if (server.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_QUERY_VALUE | view) != ERROR_SUCCESS ||
        ::RegGetValueW(server.get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, command, &size) != ERROR_SUCCESS) {
      continue;
    }
    const WideText program = ServerExecutable(command);
    if (program.empty()) continue;
    wchar_t full[2048] = {};
    const DWORD length = ::GetLongPathNameW(program.c_str(), full, 2048);
    return length > 0 && length < 2048 ? WideText(full, length) : program;
  }
  return WideText();
}

// The last part of a path.
const wchar_t* FileNameOf(const WideText& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return path.c_str() + (slash == WideText::npos ? 0 : slash + 1);
}

bool SameText(const wchar_t* a, const wchar_t* b) {
  return ::CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

OutlookProcess::State OutlookProcess::Open(uint32_t pid, uint64_t created) {
  StopWatching();
  process_.reset();
  created_ = 0;
  if (pid == 0) return State::Unknown;
  win::KernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) {
    // No process of that id is left; any other refusal leaves nothing to go by.
    return GetLastError() == ERROR_INVALID_PARAMETER ? State::Gone : State::Unknown;
  }
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!GetProcessTimes(process.get(), &creation, &exit, &kernel, &user)) return State::Unknown;
  // The id names another process now: Outlook has ended.
  if (FileTimeCount(creation) != created) return State::Gone;
  if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return State::Gone;
  process_ = std::move(process);
  pid_ = pid;
  created_ = created;
  return State::Running;
}

bool OutlookProcess::FindServing(uint32_t* pid, uint64_t* created) {
  const WideText program = OutlookServerProgram();
  if (program.empty()) return false;
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) return false;
  win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  // The program's own path first; a process of that file name elsewhere only when none runs it
  // (a path registered in another spelling than the one the process was started by).
  int samePath = 0, sameName = 0;
  uint32_t pathPid = 0, namePid = 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    DWORD processSession = 0;
    if (!SameText(entry.szExeFile, FileNameOf(program)) ||
        !ProcessIdToSessionId(entry.th32ProcessID, &processSession) || processSession != session) {
      continue;
    }
    ++sameName;
    namePid = entry.th32ProcessID;
    win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    wchar_t image[2048] = {};
    DWORD length = 2048;
    if (process && QueryFullProcessImageNameW(process.get(), 0, image, &length) && SameText(image, program.c_str())) {
      ++samePath;
      pathPid = entry.th32ProcessID;
    }
  }
  const uint32_t found = samePath == 1 ? pathPid : samePath == 0 && sameName == 1 ? namePid : 0;
  if (found == 0) return false;
  win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, found));
  FILETIME creation{}, exit{}, kernel{}, user{};
  if (!process || !GetProcessTimes(process.get(), &creation, &exit, &kernel, &user)) return false;
  *pid = found;
  *created = FileTimeCount(creation);
  return true;
}

bool OutlookProcess::Watch(HWND window, UINT message) {
  StopWatching();
  if (!process_) return false;
  window_ = window;
  message_ = message;
  return RegisterWaitForSingleObject(&wait_, process_.get(), &OutlookProcess::OnEnded, this, INFINITE,
                                     WT_EXECUTEONLYONCE) != FALSE;
}

void OutlookProcess::StopWatching() {
  if (!wait_) return;
  UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE);
  wait_ = nullptr;
}

void CALLBACK OutlookProcess::OnEnded(void* self, BOOLEAN) {
  auto* watched = static_cast<OutlookProcess*>(self);
  PostMessageW(watched->window_, watched->message_, 0, 0);
}
