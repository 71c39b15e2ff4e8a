// A test program for the run guard's own test: one test that starts a helper and never ends, one
// that ends at once. Linked with the run guard like every Wine test program.
#include <gtest/gtest.h>

#include "tests/harness/paths.h"
#include "tests/harness/process.h"

TEST(Probe, StartsAHelperAndHangs) {
  const std::string helper = harness::ThisExeDir() + "\\harness_show_box.exe";
  harness::Process box = harness::Process::Launch(helper, "\"" + helper + "\" probe \"left by the probe\"");
  ASSERT_TRUE(box.Started());
  // Ended by nobody but the watchdog: the destructor that would end the helper never runs.
  Sleep(INFINITE);
}

TEST(Probe, EndsAtOnce) {}
