#pragma once
// Measures another process from outside. Windows' own figures come first: private bytes
// (PROCESS_MEMORY_COUNTERS_EX.PrivateUsage), handle count (GetProcessHandleCount), CPU time
// (GetProcessTimes). Wine answers some of them with 0 for other processes (its PrivateUsage
// is the swap in use, its handle count is not kept per process there); the sampler then takes
// the handle count from the system's process list (NtQuerySystemInformation) and the private
// memory from the host's view of the Linux process behind the Wine process (RssAnon: its
// anonymous resident memory), and says which it used. The Linux process is found by the
// executable it has mapped.
#include <windows.h>

#include <map>
#include <string>

namespace systemtest {

struct ProcessSample {
  bool ok = false;
  unsigned long long privateBytes = 0;
  const char* privateSource = "";  // "PrivateUsage" or "host RssAnon"
  unsigned long handles = 0;
  const char* handleSource = "";   // "GetProcessHandleCount" or "process list"
  unsigned long long workingSetBytes = 0;
  unsigned long long cpu100ns = 0;  // GetProcessTimes: kernel + user
};

// The host's view of the Linux process behind a Wine process.
struct HostSample {
  bool ok = false;
  int unixPid = 0;
  unsigned long long rssAnonBytes = 0;
  // Voluntary + involuntary context switches of each thread (by Linux thread id) so far; the
  // thread whose id is the process id is the program's first thread, the one with the message loop.
  std::map<int, unsigned long long> threadSwitches;
  unsigned long long cpuTicks = 0;             // utime + stime, in clock ticks (usually 1/100 s)
  int threads = 0;
};

// Context switches from `before` to `after`: threads that ended in between are left out, threads
// that began count in full. *threadsWoken: how many threads switched at all.
unsigned long long SwitchesBetween(const HostSample& before, const HostSample& after, int* threadsWoken = nullptr);
unsigned long long MainThreadSwitchesBetween(const HostSample& before, const HostSample& after);

class ProcessSampler {
 public:
  // imageTail: the end of the executable's path, unique to it (e.g. "sys-12-1\\Brisomel\\cadelo.exe");
  // empty: no host view.
  ProcessSampler(HANDLE process, DWORD pid, std::string imageTail);
  ProcessSample Sample();
  HostSample Host();

 private:
  HANDLE process_;
  DWORD pid_;
  std::string imageTail_;  // with '/' separators
  int unixPid_ = 0;
  bool searched_ = false;
};

}  // namespace systemtest
