#pragma once
// cadelo.exe started as the add-in starts it ("/hidewindow yes"), with the stand-in gateway in
// this process as its gateway and a clean registry around it.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "tests/harness/process.h"
#include "tests/harness/registry.h"
#include "tools/gateway/gateway_server.h"

namespace outlook_test {

// The keys the agent reads or writes: the settings, the framework's profile and the document
// type it registers at every start. Deleted before and after each test.
class AgentRegistry {
 public:
  AgentRegistry();

 private:
  harness::ScopedRegistryKey settings_;
  harness::ScopedRegistryKey profile_;
  harness::ScopedRegistryKey progId_;
  harness::ScopedRegistryKey clsid_;
  harness::ScopedRegistryKey userProgId_;
  harness::ScopedRegistryKey userClsid_;
};

// Writes the settings the call request uses: the gateway on 127.0.0.1:port and the caller's
// own name and number.
void WriteCallSettings(uint16_t gatewayPort, const std::string& firstName, const std::string& lastName,
                       const std::string& myNumber);

class HiddenAgent {
 public:
  HiddenAgent();
  ~HiddenAgent();  // terminates the agent if it still runs
  HiddenAgent(const HiddenAgent&) = delete;
  HiddenAgent& operator=(const HiddenAgent&) = delete;

  bool Start();
  DWORD Pid() const { return process_.Pid(); }
  HANDLE Handle() const { return process_.Handle(); }
  // The hidden main frame (the top-level window with the MDI client); null until it exists.
  HWND MainFrame() const;
  // Ends the agent the way it ends by itself (File > Exit on its main frame); its exit code.
  bool ExitByItself(DWORD timeoutMs, DWORD* exitCode);
  bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);
  // Ends it the way the add-in does at Outlook's end.
  void Terminate();
  // True when any window of the agent other than a message box was ever seen visible.
  bool EverShowedAWindow() const { return shown_; }

 private:
  void WatchWindows();

  harness::Process process_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> shown_{false};
  std::thread watcher_;
};

}  // namespace outlook_test
