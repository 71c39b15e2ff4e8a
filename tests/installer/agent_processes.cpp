#include "tests/installer/agent_processes.h"

#include <tlhelp32.h>

#include <functional>

#include "common/win/handles.h"

namespace installer_test {

namespace {

std::vector<DWORD> ProcessesWhere(const std::function<bool(const PROCESSENTRY32&)>& wanted) {
  std::vector<DWORD> pids;
  win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return pids;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    if (wanted(entry)) pids.push_back(entry.th32ProcessID);
  }
  return pids;
}

std::string ImagePathOf(DWORD pid) {
  win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::string();
  char path[MAX_PATH * 2];
  DWORD length = sizeof path;
  if (!QueryFullProcessImageNameA(process.get(), 0, path, &length)) return std::string();
  return std::string(path, length);
}

std::wstring WideImagePathOf(DWORD pid) {
  win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::wstring();
  wchar_t path[MAX_PATH * 2];
  DWORD length = MAX_PATH * 2;
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &length)) return std::wstring();
  return std::wstring(path, length);
}

}  // namespace

std::vector<DWORD> ProcessesStartedFrom(const std::wstring& exePath) {
  return ProcessesWhere([&](const PROCESSENTRY32& entry) {
    return lstrcmpiW(WideImagePathOf(entry.th32ProcessID).c_str(), exePath.c_str()) == 0;
  });
}

std::vector<DWORD> ProcessesStartedFrom(const std::string& exePath) {
  return ProcessesWhere([&](const PROCESSENTRY32& entry) {
    return lstrcmpiA(ImagePathOf(entry.th32ProcessID).c_str(), exePath.c_str()) == 0;
  });
}

std::vector<DWORD> ProcessesNamed(const std::string& fileName) {
  return ProcessesWhere(
      [&](const PROCESSENTRY32& entry) { return lstrcmpiA(entry.szExeFile, fileName.c_str()) == 0; });
}

}  // namespace installer_test
