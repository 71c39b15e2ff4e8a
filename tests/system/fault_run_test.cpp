// The fault run itself: a gate that cannot reach the simulator ends the run at once with the
// gate's own error. The simulator's script then never goes on, so anything the run waited for
// after that could never come: a run that waited anyway only reached its watchdog, and the
// gate's error was lost among the time-outs behind it.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "tests/system/fault_run.h"
#include "tests/system/system_paths.h"

namespace systemtest {
namespace {

std::vector<std::string> FailureTexts(const ::testing::TestPartResultArray& failures) {
  std::vector<std::string> texts;
  for (int i = 0; i < failures.size(); ++i) texts.push_back(failures.GetTestPartResult(i).message());
  return texts;
}

TEST(FaultRun, AGateThatCannotReachOutlookEndsTheRunWithItsError) {
  SystemRig rig;
  ASSERT_TRUE(rig.Ok());
  std::vector<std::string> arranged;
  Fault unreachable;
  unreachable.name = "no Outlook.Application";
  // The agent is connected by then; only the gate's activation finds the ProgID gone.
  unreachable.arrange = [&arranged](SystemRig&) {
    arranged.push_back("no Outlook.Application");
    ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "Outlook.Application"), ERROR_SUCCESS);
  };
  Fault after;
  after.name = "after it";
  after.arrange = [&arranged](SystemRig&) { arranged.push_back("after it"); };

  ::testing::TestPartResultArray failures;
  std::vector<FaultOutcome> outcomes;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    outcomes = RunFaults(rig, {unreachable, after});
  }
  // For the tests after this one in this program.
  ASSERT_TRUE(simdriver::SimProcess(OutlookSimExeW()).Register());

  // One failure, the gate's, at once: no time-out of a reminder that could not come after it.
  ASSERT_EQ(FailureTexts(failures).size(), 1u) << ::testing::PrintToString(FailureTexts(failures));
  const std::string text = FailureTexts(failures)[0];
  EXPECT_EQ(text.substr(0, text.find("\nGoogle Test trace:")),
            "Failed\nthe simulator did not raise the faulty reminder: CLSIDFromProgID 0x800401F3");
  EXPECT_EQ(arranged, std::vector<std::string>{"no Outlook.Application"}) << "the run went on after the failed gate";
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_FALSE(outcomes[0].nextReminderArrived);
  EXPECT_TRUE(outcomes[0].boxes.empty());
}

}  // namespace
}  // namespace systemtest
