// Stand-in for the agent program, started by the add-in's launcher in the tests. It writes how it
// was started to the file named by BRISOMEL_TEST_AGENT_RECORD, signals the event named by
// BRISOMEL_TEST_AGENT_READY and then waits to be terminated. Left alone it ends by itself with
// exit code 3 after BRISOMEL_TEST_AGENT_LIFE_MS milliseconds (default one minute), so a test that
// fails half-way leaves nothing running for long.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/win/handles.h"

namespace {

constexpr DWORD kDefaultLifeMs = 60000;
constexpr int kExitTimedOut = 3;
constexpr int kExitNoRecord = 4;

std::string Utf8(const wchar_t* text, DWORD length) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
  return out;
}

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
  wchar_t wide[1024];
  const DWORD wideLength = GetModuleFileNameW(nullptr, wide, 1024);
  record += "moduleutf8=" + Utf8(wide, wideLength < 1024 ? wideLength : 0) + "\n";
  const DWORD folderLength = GetCurrentDirectoryW(1024, wide);
  record += "directory=" + Utf8(wide, folderLength < 1024 ? folderLength : 0) + "\n";
  // A handle value that the starter holds as inheritable: valid here only if it was inherited.
  const std::string probe = Env("BRISOMEL_TEST_AGENT_PROBE_HANDLE");
  if (!probe.empty()) {
    DWORD flags = 0;
    const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(probe.c_str(), nullptr, 16)));
    record += std::string("inherited=") + (GetHandleInformation(handle, &flags) ? "yes" : "no") + "\n";
  }

  FILE* file = std::fopen(recordPath.c_str(), "wb");
  if (!file) return kExitNoRecord;
  const bool written = std::fwrite(record.data(), 1, record.size(), file) == record.size();
  if (std::fclose(file) != 0 || !written) return kExitNoRecord;

  const std::string readyName = Env("BRISOMEL_TEST_AGENT_READY");
  if (win::KernelHandle ready{OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName.c_str())}) {
    SetEvent(ready.get());
  }
  const std::string life = Env("BRISOMEL_TEST_AGENT_LIFE_MS");
  Sleep(life.empty() ? kDefaultLifeMs : static_cast<DWORD>(std::strtoul(life.c_str(), nullptr, 10)));
  return kExitTimedOut;
}
