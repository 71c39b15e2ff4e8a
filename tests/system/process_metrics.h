#pragma once
// Measures another process from outside: what Windows reports (private bytes, handles, CPU
// time) and, under Wine, what the host kernel reports for the process behind it (context
// switches, CPU ticks), found through the executable file it has mapped.
#include <windows.h>

#include <string>

namespace systemtest {

struct ProcessSample {
  bool ok = false;
  unsigned long long privateBytes = 0;    // PROCESS_MEMORY_COUNTERS_EX.PrivateUsage
  unsigned long long workingSetBytes = 0;
  DWORD handles = 0;                      // GetProcessHandleCount
  unsigned long long cpu100ns = 0;        // GetProcessTimes: kernel + user
};

ProcessSample SampleProcess(HANDLE process);

// The host's view of a Wine process: the Linux process that has `unixImagePath` mapped.
struct HostSample {
  bool ok = false;
  int unixPid = 0;
  unsigned long long contextSwitches = 0;  // voluntary + involuntary, summed over its threads
  unsigned long long cpuTicks = 0;         // utime + stime (clock ticks, usually 1/100 s)
  int threads = 0;
};

// unixImagePath: the executable as a host path ("/tmp/x/cadelo.exe"). Looks the process up
// again on every call (cheap enough for a handful of samples).
HostSample SampleHostProcess(const std::string& unixImagePath, int knownUnixPid = 0);

// The host path behind a Windows path on drive Z: ("Z:\\tmp\\x" -> "/tmp/x"); other drives
// are resolved through the prefix's dosdevices link when WINEPREFIX is set. "" if unknown.
std::string HostPathOf(const std::string& windowsPath);

}  // namespace systemtest
