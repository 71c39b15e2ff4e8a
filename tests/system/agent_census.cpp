#include "tests/system/agent_census.h"

#include <tlhelp32.h>

#include "common/win/handles.h"
#include "tests/harness/patience.h"

namespace systemtest {
namespace {

std::string Lower(std::string s) {
  if (!s.empty()) CharLowerBuffA(&s[0], static_cast<DWORD>(s.size()));
  return s;
}

std::string ImageOf(DWORD pid) {
  win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::string();
  char path[1024];
  DWORD size = sizeof path;
  if (!QueryFullProcessImageNameA(process.get(), 0, path, &size)) return std::string();
  return std::string(path, size);
}

}  // namespace

std::vector<DWORD> ProcessesOf(const std::string& exePath) {
  std::vector<DWORD> pids;
  const std::string wanted = Lower(exePath);
  win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return pids;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    if (Lower(ImageOf(entry.th32ProcessID)) == wanted) pids.push_back(entry.th32ProcessID);
  }
  return pids;
}

void TerminateProcesses(const std::vector<DWORD>& pids) {
  for (DWORD pid : pids) {
    win::KernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) continue;
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), harness::kPatientMs);
  }
}

}  // namespace systemtest
