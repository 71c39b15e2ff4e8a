// Stand-in for the agent program, started by the add-in's launcher in the tests. It writes how it
// was started to the file named by BRISOMEL_TEST_AGENT_RECORD, signals the event named by
// BRISOMEL_TEST_AGENT_READY and then waits to be terminated. Left alone it ends by itself with
// exit code 3 after BRISOMEL_TEST_AGENT_LIFE_MS milliseconds (default one minute), so a test that
// fails half-way leaves nothing running for long.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/framework/handles.h"

namespace {

constexpr DWORD kDefaultLifeMs = 60000;
constexpr int kExitTimedOut = 3;
constexpr int kExitNoRecord = 4;

std::string Env(const char* name) {
  char value[1024];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n == 0 || n >= sizeof value ? std::string() : std::string(value, n);
}

}  // namespace

int main() {
  const std::string recordPath = Env("BRISOMEL_TEST_AGENT_RECORD");
  if (recordPath.empty()) return kExitNoRecord;
  char module[1024];
  const DWORD moduleLength = GetModuleFileNameA(nullptr, module, sizeof module);
  std::string record = "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
  record += "module=" + std::string(module, moduleLength < sizeof module ? moduleLength : 0) + "\n";
  record += "commandline=" + std::string(GetCommandLineA()) + "\n";

  FILE* file = std::fopen(recordPath.c_str(), "wb");
  if (!file) return kExitNoRecord;
  const bool written = std::fwrite(record.data(), 1, record.size(), file) == record.size();
  if (std::fclose(file) != 0 || !written) return kExitNoRecord;

  const std::string readyName = Env("BRISOMEL_TEST_AGENT_READY");
  if (fw::KernelHandle ready{OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName.c_str())}) {
    SetEvent(ready.get());
  }
  const std::string life = Env("BRISOMEL_TEST_AGENT_LIFE_MS");
  Sleep(life.empty() ? kDefaultLifeMs : static_cast<DWORD>(std::strtoul(life.c_str(), nullptr, 10)));
  return kExitTimedOut;
}
