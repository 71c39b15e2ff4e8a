#include "tests/harness/leftovers.h"

#include <windows.h>
#include <tlhelp32.h>

#include "common/win/handles.h"
#include "tests/harness/patience.h"

namespace harness {
namespace {

// The programs tests start, by file name: the copies of the agent lie in odd folders, so the
// folder tells nothing. The desktop keeper and Wine's own services are not among them.
constexpr const char* kTestedPrograms[] = {
    "cadelo.exe",         "outlook-sim.exe",      "stop-agents.exe",         "uninstall.exe",
    "Au_.exe",            "brisomel-setup.exe",   "brisomel-setup64.exe",    "installer_test_idle.exe",
    "addin_test_agent.exe", "harness_show_box.exe",
};

bool IsTestedProgram(const char* image) {
  for (const char* name : kTestedPrograms) {
    if (lstrcmpiA(image, name) == 0) return true;
  }
  return false;
}

// Terminates the processes whose image satisfies wanted (never this process); returns their
// images.
template <typename Wanted>
std::vector<std::string> EndProcesses(Wanted wanted) {
  std::vector<std::string> ended;
  win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ended;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId() || !wanted(entry.szExeFile)) continue;
    win::KernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (!process || !TerminateProcess(process.get(), 1)) continue;
    WaitForSingleObject(process.get(), kPatientMs);
    ended.push_back(entry.szExeFile);
  }
  return ended;
}

}  // namespace

std::vector<unsigned long> ProcessesNamed(const std::string& image) {
  std::vector<unsigned long> pids;
  win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return pids;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    if (lstrcmpiA(entry.szExeFile, image.c_str()) == 0) pids.push_back(entry.th32ProcessID);
  }
  return pids;
}

std::vector<std::string> EndLeftoversOfEarlierTests() {
  const std::vector<std::string> ended = EndProcesses(IsTestedProgram);
  for (const std::string& image : ended) {
    if (lstrcmpiA(image.c_str(), "outlook-sim.exe") == 0) {
      RestartWineRpcss();
      break;
    }
  }
  return ended;
}

bool RestartWineRpcss() {
  return !EndProcesses([](const char* image) { return lstrcmpiA(image, "rpcss.exe") == 0; }).empty();
}

}  // namespace harness
