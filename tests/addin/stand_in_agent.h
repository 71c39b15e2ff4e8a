#pragma once
// The stand-in agent (addin_test_agent.exe) as the tests use it: installed as "cadelo.exe" in a
// folder of the test's choice, and one expected start of it at a time.
#include <windows.h>

#include <string>
#include <vector>

#include "common/win/handles.h"

namespace addin_test {

// Copies the stand-in agent to folder\fileName, creating the folder; returns the file's path or
// "" on failure.
std::string InstallStandInAgent(const std::string& folder,
                                const std::string& fileName = "cadelo.exe");

// What a started stand-in agent reported about itself.
struct AgentRecord {
  DWORD pid = 0;
  std::string module;       // GetModuleFileNameA
  std::string commandLine;  // GetCommandLineA, byte for byte
  std::string moduleUtf8;   // GetModuleFileNameW, as UTF-8
  std::string directory;    // its current directory at start, as UTF-8
  std::string inherited;    // "yes"/"no": whether it holds the probe handle; "" without a probe
};

// Prepares the environment that the next stand-in agent started by this process (or by code it
// calls) inherits, then waits for that agent's report. Destroying it ends the agent if it still
// runs, so no test leaves one behind.
class ExpectedAgent {
 public:
  explicit ExpectedAgent(const std::string& recordFolder);
  ~ExpectedAgent();
  ExpectedAgent(const ExpectedAgent&) = delete;
  ExpectedAgent& operator=(const ExpectedAgent&) = delete;

  // Waits (bounded) until the agent has written its record; then Record() and Process() are set.
  bool WaitStarted(int timeoutMs = 10000);
  const AgentRecord& Record() const { return record_; }
  // Opened by the test itself: synchronize, query and terminate access.
  HANDLE Process() const { return process_.get(); }
  bool WaitForExit(int timeoutMs = 10000) const;
  DWORD ExitCode() const;  // STILL_ACTIVE while it runs

 private:
  std::string recordPath_;
  win::KernelHandle ready_;
  win::KernelHandle process_;
  AgentRecord record_;
};

// Exit code of the stand-in agent when nobody terminates it.
constexpr DWORD kStandInAgentTimedOut = 3;

// Processes this test process started whose file name begins with "cadelo", at this moment (Wine
// may start helpers of its own, such as the desktop process, as children of a test).
std::vector<DWORD> ChildAgentPids();

}  // namespace addin_test
