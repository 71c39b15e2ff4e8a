#include "tests/harness/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tests/harness/paths.h"
#include "tests/harness/patience.h"

namespace {

std::string Cmd() {
  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, sizeof dir);
  return std::string(dir) + "\\cmd.exe";
}

TEST(Process, ReportsTheExitCode) {
  harness::Process p = harness::Process::Launch(Cmd(), "cmd /c exit 7");
  ASSERT_TRUE(p.Started()) << p.LaunchError();
  EXPECT_NE(p.Pid(), 0u);
  ASSERT_TRUE(p.WaitForExit(10000));
  EXPECT_EQ(p.ExitCode(), 7u);
}

TEST(Process, PassesExtraEnvironmentVariables) {
  harness::Process p = harness::Process::Launch(
      Cmd(), "cmd /c if \"%HARNESS_PROBE%\"==\"yes please\" (exit 3) else (exit 4)",
      {{"HARNESS_PROBE", "yes please"}});
  ASSERT_TRUE(p.Started()) << p.LaunchError();
  ASSERT_TRUE(p.WaitForExit(10000));
  EXPECT_EQ(p.ExitCode(), 3u);
}

TEST(Process, LaunchOfAMissingProgramFails) {
  harness::Process p = harness::Process::Launch("C:\\no\\such\\program.exe", "program");
  EXPECT_FALSE(p.Started());
  EXPECT_NE(p.LaunchError(), 0u);
  EXPECT_TRUE(p.WaitForExit(0));
}

TEST(Process, TerminateAndDestructorEndTheChild) {
  std::string exe = harness::ThisExeDir() + "\\harness_show_box.exe";
  DWORD pid;
  HANDLE h;
  {
    // The box stays open (nobody watches this caption): the child runs until terminated.
    harness::Process p = harness::Process::Launch(exe, "\"" + exe + "\" \"Harness Linger\" x");
    ASSERT_TRUE(p.Started()) << p.LaunchError();
    HWND box = harness::WaitForTopLevelWindow(p.Pid(), "#32770", 10000);
    ASSERT_NE(box, nullptr);
    std::vector<HWND> all = harness::FindTopLevelWindows(p.Pid());
    EXPECT_NE(std::find(all.begin(), all.end(), box), all.end());
    EXPECT_EQ(harness::WaitForTopLevelWindow(p.Pid(), "NoSuchClass", 50), nullptr);
    EXPECT_TRUE(p.Running());
    pid = p.Pid();
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), p.Handle(), GetCurrentProcess(), &h, SYNCHRONIZE,
                                FALSE, 0));
  }
  win::KernelHandle watched(h);
  EXPECT_EQ(WaitForSingleObject(watched.get(), harness::kPatientMs), WAIT_OBJECT_0) << "pid " << pid;
}

// Debian's Wine has no preloader: with the addresses randomised, now and then a start loses the
// page of the shared user data and the program ends before its first line ("failed to map the
// shared user data"), which CreateProcess reports as ERROR_INTERNAL_ERROR. tools/ci/wine64/wine
// turns randomisation off for the test programs, and what they start inherits it. Wine starts a
// Linux program as a child of the calling process: its /proc/self/personality is the one this
// test program passes on (a file opened through drive Z: is opened by the wineserver, so the
// test cannot read its own).
TEST(Process, WinePassesOnRunningWithoutAddressRandomisation) {
  if (GetFileAttributesA("Z:\\bin\\sh") == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "not under Wine on Linux";
  const std::string name = "brisomel-personality-" + std::to_string(GetCurrentProcessId());
  const std::string windowsPath = "Z:\\tmp\\" + name;
  DeleteFileA(windowsPath.c_str());
  harness::Process shell =
      harness::Process::Launch("Z:\\bin\\sh", "/bin/sh -c \"cat /proc/self/personality > /tmp/" + name + "\"");
  // Wine gives no handle of a Linux program it started (CreateProcess succeeds without one):
  // the file it writes is the sign that it ran.
  ASSERT_EQ(shell.LaunchError(), 0u);
  char text[32] = {};
  DWORD read = 0;
  const ULONGLONG deadline = GetTickCount64() + harness::kPatientMs;
  while (read < 9 && GetTickCount64() < deadline) {
    Sleep(20);
    win::FileHandle file(CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    if (file && !ReadFile(file.get(), text, sizeof text - 1, &read, nullptr)) read = 0;
  }
  ASSERT_GE(read, 9u) << "no personality written (\"00040000\\n\")";
  DeleteFileA(windowsPath.c_str());
  constexpr unsigned long kAddrNoRandomize = 0x0040000;
  const unsigned long personality = std::strtoul(text, nullptr, 16);
  EXPECT_EQ(personality & kAddrNoRandomize, kAddrNoRandomize) << "personality " << text;
}

}  // namespace
