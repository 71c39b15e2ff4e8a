#pragma once
// For tests that drive outlook-sim.exe: registering it, starting it with a script, following its
// log while serving COM calls on the caller's apartment, and stopping it.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/win/handles.h"

namespace simdriver {

// The folder of the calling executable, with a trailing backslash.
std::wstring ExeDirectory();
// A new, unique file name in %TEMP% (the file is not created).
std::wstring TempFileName(const std::wstring& stem, const std::wstring& extension);
// Runs a command line to its end; its exit code, or -1 when it cannot start or outlasts timeoutMs
// (it is then terminated).
int RunToEnd(const std::wstring& commandLine, DWORD timeoutMs);
// Dispatches messages (so a single-threaded apartment serves incoming calls and events) until
// done() holds or timeoutMs passes, looking again at least every pollMs; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD pollMs = 10);
// The lines of a text file (without line ends); empty when it cannot be read.
std::vector<std::string> ReadLines(const std::wstring& path);

class SimProcess {
 public:
  // exe: full path of outlook-sim.exe.
  explicit SimProcess(std::wstring exe);
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  // Asks a simulator still running to end (RequestQuit), terminates it if it does not within
  // 10 s, and deletes the script and log files (kept when the environment variable
  // OUTLOOK_SIM_KEEP_LOGS is set). A simulator that is killed leaves its class
  // registration behind in Wine's rpcss, so it is asked first.
  ~SimProcess();

  // outlook-sim.exe /regserver <serverArgs> and /unregserver: true on exit code 0.
  bool Register(const std::wstring& serverArgs = L"") const;
  bool Unregister() const;

  // Writes the script (UTF-8) to a file, starts the simulator with /script, /log and extraArgs,
  // and waits (pumping) for its "Ready" line. False when it did not get ready in time or ended
  // first. The default is long: a cold start under load takes many seconds.
  bool Start(const std::string& script, const std::wstring& extraArgs = L"", DWORD readyTimeoutMs = 60000);
  // Waits (pumping) until the log holds a line equal to `line`.
  bool WaitForLine(const std::string& line, DWORD timeoutMs) const;
  // Waits (pumping) until the process ends; its exit code in *exitCode.
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);
  // Posts the simulator's main thread a WM_CLOSE: it shuts down as for the script's quit.
  void RequestQuit() const;
  std::vector<std::string> Log() const { return ReadLines(log_); }
  const std::wstring& LogPath() const { return log_; }
  HANDLE Process() const { return process_.get(); }

 private:
  std::wstring exe_;
  std::wstring script_;
  std::wstring log_;
  win::KernelHandle process_;
  DWORD threadId_ = 0;
};

}  // namespace simdriver
