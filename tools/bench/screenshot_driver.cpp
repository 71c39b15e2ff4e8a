// Drives cadelo for screenshots: starts it with example settings, then shows its main window,
// the Setup dialog and the About box one after the other. For each it prints
// "READY <name> <x> <y> <width> <height>" (the main frame's rectangle on the screen) and waits for
// a line on standard input, the sign that the picture was taken.
// Usage: shell_screenshots <path of cadelo.exe>
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "agent/framework/ui/afx_ids.h"
#include "common/settings_key.h"
#include "tests/harness/process.h"
#include "tests/harness/registry.h"
#include "tests/shell/windows_under_test.h"

namespace {

constexpr int kWaitMs = 20000;
constexpr UINT kSetupCommand = 32771;

void StoreExampleSettings() {
  using harness::SzBytes;
  using namespace settings_key;
  harness::WriteValue(HKEY_CURRENT_USER, kPath, kHost, REG_SZ, SzBytes("gateway.example.com"));
  harness::WriteValue(HKEY_CURRENT_USER, kPath, kPort, REG_DWORD, harness::DwordBytes(kDefaultPort));
  harness::WriteValue(HKEY_CURRENT_USER, kPath, kMyNumber, REG_SZ, SzBytes("(555) 010-0200"));
  harness::WriteValue(HKEY_CURRENT_USER, kPath, kFirstName, REG_SZ, SzBytes("Ann"));
  harness::WriteValue(HKEY_CURRENT_USER, kPath, kLastName, REG_SZ, SzBytes("Lee"));
}

// Lets the program finish painting, announces the picture and waits until it was taken.
bool Announce(const harness::Process& program, const char* name, HWND frame) {
  WaitForInputIdle(program.Handle(), kWaitMs);
  Sleep(300);  // the X server shows what Wine drew a moment later
  RECT r{};
  GetWindowRect(frame, &r);
  std::cout << "READY " << name << ' ' << r.left << ' ' << r.top << ' ' << (r.right - r.left) << ' '
            << (r.bottom - r.top) << std::endl;
  std::string ack;
  return static_cast<bool>(std::getline(std::cin, ack));
}

int Fail(const char* what) {
  std::cout << "FAILED " << what << std::endl;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Fail("usage: shell_screenshots <cadelo.exe>");
  const std::string exe = argv[1];
  StoreExampleSettings();

  harness::Process program = harness::Process::Launch(exe, "\"" + exe + "\"");
  if (!program.Started()) return Fail("start");
  const HWND frame = shelltest::WaitForMainFrame(program.Pid(), kWaitMs);
  if (!frame) return Fail("main frame");
  SetWindowPos(frame, nullptr, 32, 24, 640, 440, SWP_NOZORDER);
  if (!Announce(program, "main", frame)) return Fail("main");

  PostMessageA(frame, WM_COMMAND, kSetupCommand, 0);
  const HWND setup = shelltest::WaitForDialog(program.Pid(), "Setup", kWaitMs);
  if (!setup) return Fail("setup");
  if (!Announce(program, "setup", frame)) return Fail("setup");
  PostMessageA(GetDlgItem(setup, IDCANCEL), BM_CLICK, 0, 0);
  shelltest::WaitForDialogGone(program.Pid(), "Setup", kWaitMs);

  PostMessageA(frame, WM_COMMAND, ID_APP_ABOUT, 0);
  const HWND about = shelltest::WaitForDialog(program.Pid(), "About cadelo", kWaitMs);
  if (!about) return Fail("about");
  if (!Announce(program, "about", frame)) return Fail("about");
  PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  shelltest::WaitForDialogGone(program.Pid(), "About cadelo", kWaitMs);

  PostMessageA(frame, WM_COMMAND, ID_APP_EXIT, 0);
  if (!program.WaitForExit(kWaitMs)) return Fail("exit");
  std::cout << "DONE" << std::endl;
  return 0;
}
