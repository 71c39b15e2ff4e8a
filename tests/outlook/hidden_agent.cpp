#include "tests/outlook/hidden_agent.h"

#include <gtest/gtest.h>

#include "agent/calls/settings_store.h"
#include "agent/framework/ui/afx_ids.h"
#include "tests/harness/paths.h"

namespace outlook_test {
namespace {

constexpr char kDocumentClsid[] = "CLSID\\{B27E5F90-4C1A-4D3E-8F62-07A9D3C15E4B}";

bool IsMessageBox(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return lstrcmpA(name, "#32770") == 0;
}

}  // namespace

AgentRegistry::AgentRegistry()
    : settings_(HKEY_CURRENT_USER, "Software\\Brisomel\\tarnwick"),
      profile_(HKEY_CURRENT_USER, "Software\\Brisomel\\Brisomel"),
      progId_(HKEY_CLASSES_ROOT, "Cadelo.Document"),
      clsid_(HKEY_CLASSES_ROOT, kDocumentClsid),
      userProgId_(HKEY_CURRENT_USER, "Software\\Classes\\Cadelo.Document"),
      userClsid_(HKEY_CURRENT_USER, std::string("Software\\Classes\\") + kDocumentClsid) {}

void WriteCallSettings(uint16_t gatewayPort, const std::string& firstName, const std::string& lastName,
                       const std::string& myNumber) {
  for (const Outcome& stored : {SetHost("127.0.0.1"), SetPort(gatewayPort), SetMyNumber(myNumber),
                                SetFirstName(firstName), SetLastName(lastName)}) {
    EXPECT_TRUE(stored.Ok()) << stored.Message();
  }
}

HiddenAgent::HiddenAgent() = default;

HiddenAgent::~HiddenAgent() {
  stop_ = true;
  if (watcher_.joinable()) watcher_.join();
  if (process_.Running()) process_.Terminate();
}

bool HiddenAgent::Start() {
  const std::string exe = harness::WinePath(CADELO_EXE);
  process_ = harness::Process::Launch(exe, "\"" + exe + "\" /hidewindow yes");
  if (!process_.Started()) return false;
  watcher_ = std::thread([this] { WatchWindows(); });
  return true;
}

void HiddenAgent::WatchWindows() {
  while (!stop_) {
    for (HWND window : harness::FindTopLevelWindows(process_.Pid())) {
      if (IsWindowVisible(window) && !IsMessageBox(window)) shown_ = true;
    }
    Sleep(2);
  }
}

HWND HiddenAgent::MainFrame() const {
  for (HWND window : harness::FindTopLevelWindows(process_.Pid())) {
    if (FindWindowExA(window, nullptr, "MDIClient", nullptr)) return window;
  }
  return nullptr;
}

bool HiddenAgent::ExitByItself(DWORD timeoutMs, DWORD* exitCode) {
  const HWND frame = MainFrame();
  if (!frame || !PostMessageA(frame, WM_COMMAND, ID_APP_EXIT, 0)) return false;
  return WaitForExit(timeoutMs, exitCode);
}

bool HiddenAgent::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!process_.WaitForExit(static_cast<int>(timeoutMs))) return false;
  if (exitCode) *exitCode = process_.ExitCode();
  return true;
}

void HiddenAgent::Terminate() { TerminateProcess(process_.Handle(), 0); }

}  // namespace outlook_test
