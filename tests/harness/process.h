#pragma once
// A child process owned by a test: terminated when the object goes away if it still runs.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "common/win/handles.h"

namespace harness {

class Process {
 public:
  Process() = default;
  Process(Process&&) = default;
  Process& operator=(Process&& other) noexcept;
  ~Process();

  // CreateProcess with exePath as the application name and commandLine exactly as given
  // (e.g. "\"C:\\x\\cadelo.exe\" /hidewindow yes"). extraEnv adds or replaces variables of the
  // current environment for the child. On failure the result is empty (Started() false) and
  // LaunchError() holds GetLastError().
  static Process Launch(const std::string& exePath, const std::string& commandLine,
                        const std::vector<std::pair<std::string, std::string>>& extraEnv = {});
  // The same for paths and arguments the ANSI code page cannot spell.
  static Process Launch(const std::wstring& exePath, const std::wstring& commandLine,
                        const std::vector<std::pair<std::string, std::string>>& extraEnv = {});

  bool Started() const { return static_cast<bool>(process_); }
  DWORD LaunchError() const { return launchError_; }
  bool WaitForExit(int timeoutMs);
  bool Running() const;
  DWORD ExitCode() const;  // STILL_ACTIVE while running
  void Terminate();        // exit code 1; waits for the end
  DWORD Pid() const { return pid_; }
  HANDLE Handle() const { return process_.get(); }

 private:
  win::KernelHandle process_;
  DWORD pid_ = 0;
  DWORD launchError_ = 0;
};

// Top-level windows (visible or not) that belong to process pid.
std::vector<HWND> FindTopLevelWindows(DWORD pid);
// Waits until process pid has a top-level window of that class (any class when null); null on
// time-out.
HWND WaitForTopLevelWindow(DWORD pid, const char* className, int timeoutMs);

}  // namespace harness
