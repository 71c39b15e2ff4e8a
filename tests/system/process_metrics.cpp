#include "tests/system/process_metrics.h"

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "agent/framework/handles.h"

namespace systemtest {
namespace {

unsigned long long Filetime(const FILETIME& t) {
  return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Reads a whole file through drive Z: (the host's root); "" when it cannot be read.
std::string ReadHostFile(const std::string& hostPath) {
  std::string windowsPath = "Z:";
  for (char c : hostPath) windowsPath += c == '/' ? '\\' : c;
  fw::FileHandle file(CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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

}  // namespace

ProcessSample SampleProcess(HANDLE process) {
  ProcessSample sample;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  const bool gotMemory =
      GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory) != 0;
  DWORD handles = 0;
  const bool gotHandles = GetProcessHandleCount(process, &handles) != 0;
  FILETIME created, exited, kernel, user;
  if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    sample.cpu100ns = Filetime(kernel) + Filetime(user);
  }
  sample.ok = gotMemory && gotHandles;
  sample.privateBytes = memory.PrivateUsage;
  sample.workingSetBytes = memory.WorkingSetSize;
  sample.handles = handles;
  return sample;
}

HostSample SampleHostProcess(const std::string& unixImagePath, int knownUnixPid) {
  HostSample sample;
  if (unixImagePath.empty()) return sample;
  int pid = knownUnixPid;
  if (pid == 0) {
    for (const std::string& name : HostDirectory("/proc")) {
      if (!AllDigits(name)) continue;
      const std::string maps = ReadHostFile("/proc/" + name + "/maps");
      if (maps.find(unixImagePath + "\n") != std::string::npos) {
        pid = std::atoi(name.c_str());
        break;
      }
    }
  }
  if (pid == 0) return sample;
  const std::string base = "/proc/" + std::to_string(pid);
  const std::string stat = ReadHostFile(base + "/stat");
  const size_t paren = stat.rfind(')');
  if (paren == std::string::npos) return sample;
  // After the command name: state, then fields 4.. ; utime and stime are fields 14 and 15.
  std::vector<unsigned long long> fields;
  const char* p = stat.c_str() + paren + 2;
  while (*p) {
    while (*p == ' ') ++p;
    if (!*p) break;
    fields.push_back(std::strtoull(p, nullptr, 10));
    while (*p && *p != ' ') ++p;
  }
  if (fields.size() > 13) sample.cpuTicks = fields[11] + fields[12];
  for (const std::string& task : HostDirectory(base + "/task")) {
    if (!AllDigits(task)) continue;
    const std::string status = ReadHostFile(base + "/task/" + task + "/status");
    sample.contextSwitches +=
        FieldAfter(status, "\nvoluntary_ctxt_switches:") + FieldAfter(status, "\nnonvoluntary_ctxt_switches:");
    ++sample.threads;
  }
  sample.unixPid = pid;
  sample.ok = sample.threads > 0;
  return sample;
}

std::string HostPathOf(const std::string& windowsPath) {
  if (windowsPath.size() < 3 || windowsPath[1] != ':') return std::string();
  const char drive = static_cast<char>(windowsPath[0] | 0x20);
  std::string rest;
  for (size_t i = 2; i < windowsPath.size(); ++i) rest += windowsPath[i] == '\\' ? '/' : windowsPath[i];
  if (drive == 'z') return rest;
  char prefix[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix)) return std::string();
  return std::string(prefix) + "/dosdevices/" + drive + ":" + rest;
}

}  // namespace systemtest
