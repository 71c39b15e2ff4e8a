#include "tests/harness/process.h"

#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace
