#include "tests/system/process_metrics.h"

#include <psapi.h>
#include <winternl.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/win/handles.h"

namespace systemtest {
namespace {

constexpr ULONG kSystemProcessInformation = 5;
typedef NTSTATUS(WINAPI* QuerySystemInformation)(ULONG, PVOID, ULONG, PULONG);

unsigned long long Filetime(const FILETIME& t) {
  return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// The handle count the system's process list gives for pid; 0 when it is not there.
unsigned long HandlesFromProcessList(DWORD pid) {
  static const auto query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  std::vector<char> buffer(1 << 20);
  ULONG needed = 0;
  if (query(kSystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) != 0) return 0;
  for (size_t at = 0;;) {
    const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + at);
    if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId)) == pid) return entry->HandleCount;
    if (!entry->NextEntryOffset) return 0;
    at += entry->NextEntryOffset;
  }
}

// Reads a host file through drive Z: (the host's root); "" when it cannot be read.
std::string ReadHostFile(const std::string& hostPath) {
  std::string windowsPath = "Z:";
  for (char c : hostPath) windowsPath += c == '/' ? '\\' : c;
  win::FileHandle file(CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::string();
  std::string data;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) data.append(buffer, read);
  return data;
}

std::vector<std::string> HostDirectory(const std::string& hostPath) {
  std::vector<std::string> names;
  std::string pattern = "Z:";
  for (char c : hostPath) pattern += c == '/' ? '\\' : c;
  pattern += "\\*";
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (std::strcmp(found.cFileName, ".") && std::strcmp(found.cFileName, "..")) names.push_back(found.cFileName);
  } while (FindNextFileA(find, &found));
  FindClose(find);
  return names;
}

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

unsigned long long FieldAfter(const std::string& text, const char* name) {
  const size_t at = text.find(name);
  return at == std::string::npos ? 0 : std::strtoull(text.c_str() + at + std::strlen(name), nullptr, 10);
}

unsigned long long Switches(const std::string& status) {
  return FieldAfter(status, "\nvoluntary_ctxt_switches:") + FieldAfter(status, "\nnonvoluntary_ctxt_switches:");
}

}  // namespace

ProcessSampler::ProcessSampler(HANDLE process, DWORD pid, std::string imageTail)
    : process_(process), pid_(pid) {
  for (char c : imageTail) imageTail_ += c == '\\' ? '/' : c;
}

ProcessSample ProcessSampler::Sample() {
  ProcessSample sample;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  const bool gotMemory =
      GetProcessMemoryInfo(process_, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory) != 0;
  sample.workingSetBytes = memory.WorkingSetSize;
  sample.privateBytes = memory.PrivateUsage;
  sample.privateSource = "PrivateUsage";
  if (gotMemory && sample.privateBytes == 0) {
    const HostSample host = Host();
    if (host.ok) {
      sample.privateBytes = host.rssAnonBytes;
      sample.privateSource = "host RssAnon";
    }
  }
  DWORD handles = 0;
  const bool gotHandles = GetProcessHandleCount(process_, &handles) != 0;
  sample.handles = handles;
  sample.handleSource = "GetProcessHandleCount";
  if (gotHandles && handles == 0) {
    sample.handles = HandlesFromProcessList(pid_);
    sample.handleSource = "process list";
  }
  FILETIME created, exited, kernel, user;
  if (GetProcessTimes(process_, &created, &exited, &kernel, &user)) sample.cpu100ns = Filetime(kernel) + Filetime(user);
  sample.ok = gotMemory && gotHandles && sample.privateBytes > 0 && sample.handles > 0;
  return sample;
}

HostSample ProcessSampler::Host() {
  HostSample sample;
  if (imageTail_.empty()) return sample;
  if (!searched_) {
    searched_ = true;
    for (const std::string& name : HostDirectory("/proc")) {
      if (!AllDigits(name)) continue;
      const std::string maps = ReadHostFile("/proc/" + name + "/maps");
      if (maps.find(imageTail_ + "\n") != std::string::npos) {
        unixPid_ = std::atoi(name.c_str());
        break;
      }
    }
  }
  if (unixPid_ == 0) return sample;
  const std::string base = "/proc/" + std::to_string(unixPid_);
  const std::string status = ReadHostFile(base + "/status");
  const std::string stat = ReadHostFile(base + "/stat");
  const size_t paren = stat.rfind(')');
  if (status.empty() || paren == std::string::npos) return sample;
  sample.rssAnonBytes = FieldAfter(status, "\nRssAnon:") * 1024;
  // After the command name: state (field 3), then fields 4...; utime and stime are 14 and 15.
  std::vector<unsigned long long> fields;
  for (const char* p = stat.c_str() + paren + 2; *p;) {
    while (*p == ' ') ++p;
    if (!*p) break;
    fields.push_back(std::strtoull(p, nullptr, 10));
    while (*p && *p != ' ') ++p;
  }
  if (fields.size() > 12) sample.cpuTicks = fields[11] + fields[12];
  for (const std::string& task : HostDirectory(base + "/task")) {
    if (!AllDigits(task)) continue;
    sample.threadSwitches[std::atoi(task.c_str())] = Switches(ReadHostFile(base + "/task/" + task + "/status"));
    ++sample.threads;
  }
  sample.unixPid = unixPid_;
  sample.ok = sample.threads > 0;
  return sample;
}

unsigned long long SwitchesBetween(const HostSample& before, const HostSample& after, int* threadsWoken) {
  unsigned long long total = 0;
  int woken = 0;
  for (const auto& thread : after.threadSwitches) {
    const auto was = before.threadSwitches.find(thread.first);
    const unsigned long long earlier = was == before.threadSwitches.end() ? 0 : was->second;
    const unsigned long long delta = thread.second >= earlier ? thread.second - earlier : 0;
    total += delta;
    woken += delta > 0;
  }
  if (threadsWoken) *threadsWoken = woken;
  return total;
}

unsigned long long MainThreadSwitchesBetween(const HostSample& before, const HostSample& after) {
  const auto was = before.threadSwitches.find(before.unixPid);
  const auto now = after.threadSwitches.find(after.unixPid);
  if (was == before.threadSwitches.end() || now == after.threadSwitches.end() || now->second < was->second) return 0;
  return now->second - was->second;
}

}  // namespace systemtest
