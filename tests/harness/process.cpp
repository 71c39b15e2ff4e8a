#include "tests/harness/process.h"

#include <cctype>
#include <map>

#include "tests/harness/patience.h"

namespace harness {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The current environment with extra variables added or replaced (names compare without case),
// as the double-NUL-terminated block CreateProcessA takes, sorted as Windows expects.
std::string EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& extra) {
  std::map<std::string, std::string> vars;  // upper-case name -> "Name=value"
  if (char* env = GetEnvironmentStringsA()) {
    for (const char* p = env; *p; p += std::string(p).size() + 1) {
      std::string entry(p);
      size_t eq = entry.find('=', 1);  // "=C:=C:\\x" style entries start with '='
      if (eq == std::string::npos) continue;
      vars[Upper(entry.substr(0, eq))] = entry;
    }
    FreeEnvironmentStringsA(env);
  }
  for (const auto& kv : extra) vars[Upper(kv.first)] = kv.first + "=" + kv.second;
  std::string block;
  for (const auto& kv : vars) {
    block += kv.second;
    block += '\0';
  }
  block += '\0';
  return block;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

struct WindowSearch {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND w, LPARAM param) {
  auto* s = reinterpret_cast<WindowSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == s->pid) s->found.push_back(w);
  return TRUE;
}

}  // namespace

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Terminate();
    process_ = std::move(other.process_);
    pid_ = other.pid_;
    launchError_ = other.launchError_;
  }
  return *this;
}

Process::~Process() { Terminate(); }

// The ANSI form is the wide one after the conversion CreateProcessA makes itself (CP_ACP).
Process Process::Launch(const std::string& exePath, const std::string& commandLine,
                        const std::vector<std::pair<std::string, std::string>>& extraEnv) {
  return Launch(Widen(exePath), Widen(commandLine), extraEnv);
}

Process Process::Launch(const std::wstring& exePath, const std::wstring& commandLine,
                        const std::vector<std::pair<std::string, std::string>>& extraEnv) {
  Process p;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = commandLine;  // CreateProcessW may write into it
  std::string env;                 // an ANSI block: no CREATE_UNICODE_ENVIRONMENT
  if (!extraEnv.empty()) env = EnvironmentBlock(extraEnv);
  if (!CreateProcessW(exePath.c_str(), cmd.empty() ? nullptr : &cmd[0], nullptr, nullptr, FALSE, 0,
                      env.empty() ? nullptr : &env[0], nullptr, &si, &pi)) {
    p.launchError_ = GetLastError();
    return p;
  }
  win::KernelHandle thread(pi.hThread);
  p.process_.reset(pi.hProcess);
  p.pid_ = pi.dwProcessId;
  return p;
}

bool Process::WaitForExit(int timeoutMs) {
  if (!process_) return true;
  return WaitForSingleObject(process_.get(), timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs)) ==
         WAIT_OBJECT_0;
}

bool Process::Running() const {
  return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

DWORD Process::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_) GetExitCodeProcess(process_.get(), &code);
  return code;
}

void Process::Terminate() {
  if (!Running()) return;
  TerminateProcess(process_.get(), 1);
  WaitForSingleObject(process_.get(), harness::kPatientMs);
}

std::vector<HWND> FindTopLevelWindows(DWORD pid) {
  WindowSearch s{pid, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND WaitForTopLevelWindow(DWORD pid, const char* className, int timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    for (HWND w : FindTopLevelWindows(pid)) {
      char name[256];
      if (!className || (GetClassNameA(w, name, sizeof name) > 0 && lstrcmpiA(name, className) == 0))
        return w;
    }
    if (static_cast<int>(GetTickCount() - start) >= timeoutMs) return nullptr;
    Sleep(20);
  }
}

}  // namespace harness
