#include "tools/outlook-sim/driver/sim_driver.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace simdriver {
namespace {

bool WriteUtf8File(const std::wstring& path, const std::string& text) {
  win::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

win::KernelHandle Launch(const std::wstring& commandLine, DWORD* threadId = nullptr) {
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::wstring mutableLine = commandLine;
  if (!CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return win::KernelHandle();
  }
  CloseHandle(pi.hThread);
  if (threadId) *threadId = pi.dwThreadId;
  return win::KernelHandle(pi.hProcess);
}

// A simulator that did not do what the test waited for says why on the test's output: how far its
// script got, or that it could not be started at all.
void Tell(const char* what, const std::vector<std::string>& log) {
  std::fprintf(stderr, "[ simulator ] %s; its log:\n", what);
  for (const std::string& line : log) std::fprintf(stderr, "[ simulator ]   %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace

std::wstring ExeDirectory() {
  wchar_t buf[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::wstring path(buf, n);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring TempFileName(const std::wstring& stem, const std::wstring& extension) {
  static std::atomic<unsigned> counter{0};
  wchar_t dir[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
  return std::wstring(dir, n) + stem + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter) + extension;
}

int RunToEnd(const std::wstring& commandLine, DWORD timeoutMs) {
  win::KernelHandle process = Launch(commandLine);
  if (!process) return -1;
  if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 1);
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD pollMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    const DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, pollMs));
    MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  win::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return lines;
  std::string data;
  char buf[65536];
  DWORD read = 0;
  while (ReadFile(file.get(), buf, sizeof buf, &read, nullptr) && read > 0) data.append(buf, read);
  size_t start = 0;
  // Only complete lines: the simulator may be writing the last one.
  for (size_t nl = data.find('\n'); nl != std::string::npos; nl = data.find('\n', start)) {
    lines.push_back(data.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

SimProcess::SimProcess(std::wstring exe) : exe_(std::move(exe)) {}

SimProcess::~SimProcess() {
  if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    RequestQuit();
    if (!WaitForExit(10000, nullptr)) {
      TerminateProcess(process_.get(), 1);
      WaitForSingleObject(process_.get(), 5000);
    }
  }
  // OUTLOOK_SIM_KEEP_LOGS keeps both files for a look after a failure.
  if (GetEnvironmentVariableW(L"OUTLOOK_SIM_KEEP_LOGS", nullptr, 0) > 0) return;
  if (!script_.empty()) DeleteFileW(script_.c_str());
  if (!log_.empty()) DeleteFileW(log_.c_str());
}

bool SimProcess::Register(const std::wstring& serverArgs) const {
  return RunToEnd(L"\"" + exe_ + L"\" /regserver " + serverArgs, 30000) == 0;
}

bool SimProcess::Unregister() const { return RunToEnd(L"\"" + exe_ + L"\" /unregserver", 30000) == 0; }

bool SimProcess::Start(const std::string& script, const std::wstring& extraArgs, DWORD readyTimeoutMs) {
  script_ = TempFileName(L"outlook-sim-script", L".txt");
  log_ = TempFileName(L"outlook-sim-log", L".txt");
  if (!WriteUtf8File(script_, script)) return false;
  process_ = Launch(L"\"" + exe_ + L"\" /script \"" + script_ + L"\" /log \"" + log_ + L"\" " + extraArgs, &threadId_);
  if (!process_) {
    std::fprintf(stderr, "[ simulator ] could not be started: error %lu\n", GetLastError());
    return false;
  }
  // A simulator that ends first (a script error) is not waited for.
  bool ready = false;
  PumpUntil(
      [&] {
        const std::vector<std::string> lines = Log();
        ready = std::find(lines.begin(), lines.end(), "Ready") != lines.end();
        return ready || WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0;
      },
      readyTimeoutMs);
  if (!ready) {
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0 && GetExitCodeProcess(process_.get(), &code);
    Tell(ended ? ("ended before it was ready, exit code " + std::to_string(code)).c_str() : "not ready in time", Log());
  }
  return ready;
}

bool SimProcess::WaitForLine(const std::string& line, DWORD timeoutMs) const {
  return PumpUntil(
      [&] {
        const std::vector<std::string> lines = Log();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
      },
      timeoutMs);
}

void SimProcess::RequestQuit() const {
  if (threadId_) PostThreadMessageW(threadId_, WM_CLOSE, 0, 0);
}

bool SimProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!process_) return false;
  const bool ended = PumpUntil([&] { return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }, timeoutMs);
  if (ended && exitCode) GetExitCodeProcess(process_.get(), exitCode);
  if (!ended) Tell("has not ended", Log());
  return ended;
}

}  // namespace simdriver
