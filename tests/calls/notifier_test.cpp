// The notifier as the user meets it: boxes on a thread of its own, one at a time, on top, with
// repeats combined while a box waits for the user.
#include "agent/calls/notifier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/harness/message_box_watcher.h"

namespace {

std::vector<std::string> Texts(const harness::MessageBoxWatcher& watcher) {
  std::vector<std::string> texts;
  for (const harness::SeenBox& box : watcher.Seen()) texts.push_back(box.text);
  return texts;
}

TEST(Notifier, OneBoxAtATimeOnTopWithRepeatsCombined) {
  harness::MessageBoxWatcher watcher("Brisomel", 1000);  // the user takes a second for each box
  Notifier notifier;
  notifier.Notify("first");
  ASSERT_TRUE(watcher.WaitForCount(1, 10000));
  // Queued at once while the first box is up; the caller never waits for the user.
  const ULONGLONG before = GetTickCount64();
  for (const char* text : {"again", "other", "again", "again"}) notifier.Notify(text);
  EXPECT_LT(GetTickCount64() - before, 500u);
  ASSERT_TRUE(watcher.WaitForCount(3, 20000));
  EXPECT_FALSE(watcher.WaitForCount(4, 1500)) << "more boxes than distinct texts";
  EXPECT_EQ(Texts(watcher), (std::vector<std::string>{"first", "again\r\n\r\n(This happened 3 times.)", "other"}));
  EXPECT_EQ(watcher.MostOpenAtOnce(), 1u);
  for (const harness::SeenBox& box : watcher.Seen()) {
    EXPECT_TRUE(box.topmost) << box.text;
    EXPECT_EQ(box.pid, GetCurrentProcessId());
  }
}

TEST(Notifier, StopClosesTheOpenBoxAndDropsTheRest) {
  harness::MessageBoxWatcher watcher("Brisomel", 600000);  // nobody clicks
  {
    Notifier notifier;
    notifier.Notify("shown");
    notifier.Notify("waiting");
    ASSERT_TRUE(watcher.WaitForCount(1, 10000));
    const ULONGLONG before = GetTickCount64();
    notifier.Stop();
    EXPECT_LT(GetTickCount64() - before, 5000u);
  }
  EXPECT_EQ(FindWindowA("#32770", "Brisomel"), nullptr);
  EXPECT_EQ(Texts(watcher), std::vector<std::string>{"shown"});
}

}  // namespace
