#include "tests/addin/stand_in_agent.h"

#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/harness/paths.h"

namespace addin_test {

std::string InstallStandInAgent(const std::string& folder, const std::string& fileName) {
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string target = folder + "\\" + fileName;
  if (!CopyFileA(harness::WinePath(TEST_AGENT_EXE).c_str(), target.c_str(), FALSE)) return "";
  return target;
}

ExpectedAgent::ExpectedAgent(const std::string& recordFolder) {
  static std::atomic<unsigned> serial{0};
  const std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial++);
  recordPath_ = recordFolder + "\\agent-" + tag + ".txt";
  const std::string readyName = "BrisomelTestAgentReady-" + tag;
  ready_.reset(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
  SetEnvironmentVariableA("BRISOMEL_TEST_AGENT_RECORD", recordPath_.c_str());
  SetEnvironmentVariableA("BRISOMEL_TEST_AGENT_READY", readyName.c_str());
}

ExpectedAgent::~ExpectedAgent() {
  if (process_ && ExitCode() == STILL_ACTIVE) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 10000);
  }
}

bool ExpectedAgent::WaitStarted(int timeoutMs) {
  if (!ready_ || WaitForSingleObject(ready_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
  std::ifstream file(recordPath_, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "pid") record_.pid = static_cast<DWORD>(std::stoul(value));
    if (key == "module") record_.module = value;
    if (key == "commandline") record_.commandLine = value;
    if (key == "moduleutf8") record_.moduleUtf8 = value;
    if (key == "directory") record_.directory = value;
    if (key == "inherited") record_.inherited = value;
  }
  process_.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE,
                             record_.pid));
  return record_.pid != 0 && static_cast<bool>(process_);
}

bool ExpectedAgent::WaitForExit(int timeoutMs) const {
  return process_ && WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD ExpectedAgent::ExitCode() const {
  DWORD code = 0;
  if (!process_ || !GetExitCodeProcess(process_.get(), &code)) return 0;
  return code;
}

std::vector<DWORD> ChildAgentPids() {
  std::vector<DWORD> pids;
  win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return pids;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == GetCurrentProcessId() &&
        _strnicmp(entry.szExeFile, "cadelo", 6) == 0) {
      pids.push_back(entry.th32ProcessID);
    }
  }
  return pids;
}

}  // namespace addin_test
