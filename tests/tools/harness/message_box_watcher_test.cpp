#include "tests/harness/message_box_watcher.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/harness/paths.h"
#include "tests/harness/process.h"
#include "tests/harness/patience.h"

namespace {

TEST(MessageBoxWatcher, ClosesABoxShownOnTheTestThread) {
  harness::MessageBoxWatcher watcher("Harness Own Box");
  // Blocks until the watcher clicks OK; a broken watcher hangs here until ctest's time-out.
  int button = MessageBoxA(nullptr, "Line one\r\nLine two", "Harness Own Box", MB_OK);
  EXPECT_EQ(button, IDOK);
  ASSERT_TRUE(watcher.WaitForCount(1, harness::kPatientMs));
  auto seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "Harness Own Box");
  EXPECT_EQ(seen[0].text, "Line one\r\nLine two");
  EXPECT_EQ(seen[0].pid, GetCurrentProcessId());
}

TEST(MessageBoxWatcher, HandlesEachOfSeveralBoxesOnce) {
  harness::MessageBoxWatcher watcher("Harness Repeat");
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(MessageBoxA(nullptr, std::to_string(i).c_str(), "Harness Repeat", MB_OK), IDOK);
  auto seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(seen[i].text, std::to_string(i));
}

TEST(MessageBoxWatcher, IgnoresOtherCaptionsAndClosesBoxesWithoutOk) {
  harness::MessageBoxWatcher other("Harness Other");
  harness::MessageBoxWatcher watcher("Harness YesNo");
  // Yes/No has neither IDOK nor IDCANCEL: the first button answers it.
  int button = MessageBoxA(nullptr, "Sure?", "Harness YesNo", MB_YESNO);
  EXPECT_EQ(button, IDYES);
  EXPECT_EQ(watcher.Count(), 1u);
  EXPECT_EQ(other.Count(), 0u);
}

TEST(MessageBoxWatcher, ClosesABoxOfAnotherProcess) {
  harness::MessageBoxWatcher watcher("Harness Child Box");
  std::string exe = harness::ThisExeDir() + "\\harness_show_box.exe";
  harness::Process child =
      harness::Process::Launch(exe, "\"" + exe + "\" \"Harness Child Box\" \"from the child\"");
  ASSERT_TRUE(child.Started()) << child.LaunchError();
  ASSERT_TRUE(watcher.WaitForCount(1, 10000));
  ASSERT_TRUE(child.WaitForExit(10000));
  EXPECT_EQ(child.ExitCode(), static_cast<DWORD>(IDOK));
  auto seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "from the child");
  EXPECT_EQ(seen[0].pid, child.Pid());
}

TEST(MessageBoxWatcher, WaitForCountTimesOutWithoutBoxes) {
  harness::MessageBoxWatcher watcher("Harness Never Shown");
  EXPECT_FALSE(watcher.WaitForCount(1, 100));
  EXPECT_TRUE(watcher.Seen().empty());
}

}  // namespace
