// The run guard that every Wine test program carries: a test running into ctest's limit is ended
// with what it started, and what a cut-off test left running is ended before the next program's
// first test.
#include <gtest/gtest.h>

#include "tests/harness/leftovers.h"
#include "tests/harness/paths.h"
#include "tests/harness/process.h"

namespace {

const char kHelper[] = "harness_show_box.exe";

std::string Exe(const char* name) { return harness::ThisExeDir() + "\\" + name; }

harness::Process RunProbe(const std::string& filter, const std::string& limitSeconds) {
  const std::string probe = Exe("harness_cutoff_probe.exe");
  return harness::Process::Launch(probe, "\"" + probe + "\" --gtest_filter=" + filter,
                                  {{"BRISOMEL_TEST_TIMEOUT", limitSeconds}});
}

TEST(RunGuard, ATestNearItsLimitIsEndedWithWhatItStarted) {
  ASSERT_TRUE(harness::ProcessesNamed(kHelper).empty());
  // 31 s: the watchdog ends the test 15 s before, after 16 s.
  harness::Process probe = RunProbe("Probe.StartsAHelperAndHangs", "31");
  ASSERT_TRUE(probe.Started());
  ASSERT_TRUE(probe.WaitForExit(90000)) << "the watchdog did not end the hanging test";
  EXPECT_EQ(probe.ExitCode(), 3u);
  EXPECT_TRUE(harness::ProcessesNamed(kHelper).empty()) << "the helper the test started still runs";
}

TEST(RunGuard, WhatAnEarlierTestLeftRunningIsEndedFirst) {
  const std::string helper = Exe(kHelper);
  harness::Process leftover = harness::Process::Launch(helper, "\"" + helper + "\" leftover \"left running\"");
  ASSERT_TRUE(leftover.Started());
  harness::Process probe = RunProbe("Probe.EndsAtOnce", "120");
  ASSERT_TRUE(probe.WaitForExit(60000));
  EXPECT_EQ(probe.ExitCode(), 0u);
  EXPECT_TRUE(leftover.WaitForExit(0)) << "the leftover still runs";
}

}  // namespace
