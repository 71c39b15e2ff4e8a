// Outlook (the simulator) dies while a hidden agent that the add-in did not start runs (started
// by hand, so outside the add-in's job, which would end it with Outlook): it keeps running without
// effect until it is ended, it must neither crash, spin nor show anything, a record already handed
// over is still called, and asked to end it must end promptly although its Outlook proxy points
// nowhere.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/system/agent_census.h"
#include "tests/system/fault_run.h"
#include "tests/system/process_metrics.h"
#include "tests/system/system_paths.h"

namespace systemtest {
namespace {

HWND MainFrameOf(DWORD pid) {
  for (HWND window : harness::FindTopLevelWindows(pid)) {
    char title[256] = {};
    GetWindowTextA(window, title, sizeof title);
    if (std::string(title).rfind("Brisomel", 0) == 0) return window;
  }
  return nullptr;
}

// CPU time the agent used during `ms` milliseconds of waiting, as the host counts it (Wine does
// not report the times of other processes); -1 when the host's view is not available.
double CpuMsOver(HANDLE process, DWORD ms) {
  ProcessSampler sampler(process, GetProcessId(process), CadeloExe().substr(2));
  const HostSample before = sampler.Host();
  PumpWhile([] { return false; }, ms, 20);
  const HostSample after = sampler.Host();
  if (!before.ok || !after.ok) return -1;
  return static_cast<double>(after.cpuTicks - before.cpuTicks) * 10.0;  // USER_HZ is 100 on Linux
}

class OutlookDeath : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(rig_.Ok()); }
  SystemRig rig_;
  harness::MessageBoxWatcher agentBoxes_{kAgentCaption};
};

TEST_F(OutlookDeath, TheAgentOutlivesItQuietlyAndEndsWhenAsked) {
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("1", "before", "555-3000") +
                                "wait-advise 60s 1\nfire 1\n"));
  ASSERT_TRUE(rig_.StartAgent());
  ASSERT_TRUE(rig_.WaitForRequests(1, 20000));
  ASSERT_GE(rig_.OutlookLog().WaitFor("Event 0xF004 Item#1 cookie=1", 10000), 0);

  rig_.KillOutlook();
  const double cpuMs = CpuMsOver(rig_.Agent().Handle(), 3000);
  EXPECT_TRUE(rig_.Agent().Running()) << "the agent ended with Outlook";
  EXPECT_EQ(agentBoxes_.Count(), 0u);
  EXPECT_LT(cpuMs, 1500.0) << "the orphaned agent keeps the processor busy";
  if (cpuMs >= 0) std::printf("orphaned agent: %.0f ms CPU in 3 s after Outlook died\n", cpuMs);

  // Ended the ordinary way, it disconnects from an Outlook that is gone and must not hang there.
  const HWND frame = MainFrameOf(rig_.Agent().Pid());
  ASSERT_NE(frame, nullptr);
  EXPECT_FALSE(IsWindowVisible(frame));
  const double asked = NowMs();
  PostMessageA(frame, WM_CLOSE, 0, 0);
  EXPECT_TRUE(rig_.Agent().WaitForExit(60000)) << "the agent hangs on its way out";
  std::printf("orphaned agent asked to close: ended after %.0f ms\n", NowMs() - asked);
  EXPECT_EQ(rig_.Agent().ExitCode(), 0u);
  EXPECT_EQ(agentBoxes_.Count(), 0u);
}

TEST_F(OutlookDeath, AReminderAlreadyHandedOverIsStillCalled) {
  gateway::Answer slow;
  slow.autoId = true;
  slow.delayMs = 1500;
  rig_.Gateway().SetAnswer(slow);
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("1", "handed over", "555-3100") +
                                "wait-advise 60s 1\nfire 1\n"));
  ASSERT_TRUE(rig_.StartAgent());
  ASSERT_TRUE(rig_.WaitForRequests(1, 20000));
  rig_.KillOutlook();  // while the agent waits for the gateway
  EXPECT_TRUE(PumpWhile([&] { return rig_.Gateway().AnsweredCount() >= 1; }, 10000));
  PumpWhile([] { return false; }, 1000);
  EXPECT_EQ(PhoneOf(rig_.Gateway().Requests()[0]), "5553100");
  EXPECT_EQ(agentBoxes_.Count(), 0u) << agentBoxes_.Seen()[0].text;
  EXPECT_TRUE(rig_.Agent().Running());
}

// A reminder comes due while the agent waits for a slow gateway: the agent serves the event at
// once and queues its record. Outlook dies before that record's turn: it is still called, and
// nothing is shown.
TEST_F(OutlookDeath, RecordsQueuedWhenItDiesAreStillCalled) {
  gateway::Answer slow;
  slow.autoId = true;
  slow.delayMs = 2000;
  rig_.Gateway().SetAnswer(slow);
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("1", "first", "555-3200") +
                                ReminderItem("2", "queued", "555-3201") +
                                "wait-advise 60s 1\nfire 1\nwait-advise 60s 2\nfire 2\nnote fired\n"));
  ASSERT_TRUE(rig_.StartAgent());
  ASSERT_TRUE(rig_.WaitForRequests(1, 20000));
  ASSERT_TRUE(rig_.OpenGate());
  ASSERT_GE(rig_.OutlookLog().WaitFor("Note fired", 10000), 0);
  ASSERT_EQ(rig_.Gateway().AnsweredCount(), 0u) << "too slow to kill Outlook while the first request waits";
  rig_.KillOutlook();
  EXPECT_TRUE(rig_.WaitForRequests(2, 15000));
  EXPECT_TRUE(PumpWhile([&] { return rig_.Gateway().AnsweredCount() >= 2; }, 10000));
  PumpWhile([] { return false; }, 500);
  EXPECT_EQ(PhonesOf(rig_.Gateway().Requests()), (std::vector<std::string>{"5553200", "5553201"}));
  EXPECT_EQ(agentBoxes_.Count(), 0u);
  EXPECT_TRUE(rig_.Agent().Running());
}

}  // namespace
}  // namespace systemtest
