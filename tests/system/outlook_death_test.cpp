// Outlook (the simulator) dies while a hidden agent that the add-in did not start runs (started
// by hand, so outside the add-in's job, which would end it with Outlook): the agent finds the
// Outlook it serves and ends with it, quietly, without hanging on the proxy that now points
// nowhere; a record already handed over, or queued, is still called first.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/system/agent_census.h"
#include "tests/harness/registry.h"
#include "tests/system/fault_run.h"
#include "tests/system/system_paths.h"

namespace systemtest {
namespace {

class OutlookDeath : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(rig_.Ok()); }
  SystemRig rig_;
  harness::MessageBoxWatcher agentBoxes_{kAgentCaption};
};

// However Outlook ends (killed, a shutdown that only disconnects its clients, the fast one: no Quit
// event in any), the agent ends with it, and the record of what this Outlook's agents called goes.
TEST_F(OutlookDeath, TheAgentEndsQuietlyWithIt) {
  for (const char* end : {"killed", "quit", "quit-fast"}) {
    SCOPED_TRACE(end);
    SystemRig rig;
    ASSERT_TRUE(rig.Ok());
    const bool killed = std::string(end) == "killed";
    ASSERT_TRUE(rig.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("1", "before", "555-3000") +
                                 "wait-advise 60s 1\nfire 1\nwait-advise 60s 2\n" + (killed ? "" : end) + "\n"));
    ASSERT_TRUE(rig.StartAgent());
    ASSERT_TRUE(rig.WaitForRequests(1, 20000));
    ASSERT_EQ(harness::SubkeyNames(HKEY_CURRENT_USER, "Software\\Brisomel\\Called").size(), 1u)
        << "no record of this Outlook's calls";
    ASSERT_TRUE(rig.OpenGate());
    if (killed) {
      rig.KillOutlook();
    } else {
      // Pumping: the simulator's shutdown lets go of the gate's sink in this apartment.
      ASSERT_TRUE(PumpWhile([&] { return WaitForSingleObject(rig.OutlookProcess(), 0) == WAIT_OBJECT_0; }, 20000));
    }
    const double ended = NowMs();
    EXPECT_TRUE(rig.Agent().WaitForExit(30000)) << "the agent outlived Outlook, or hangs on its way out";
    std::printf("%s, agent started by hand: agent gone %.0f ms after\n", end, NowMs() - ended);
    EXPECT_EQ(rig.Agent().ExitCode(), 0u);
    EXPECT_TRUE(harness::SubkeyNames(HKEY_CURRENT_USER, "Software\\Brisomel\\Called").empty());
  }
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
  EXPECT_TRUE(rig_.Agent().WaitForExit(30000)) << "the agent outlived Outlook";
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
  EXPECT_TRUE(rig_.Agent().WaitForExit(30000)) << "the agent outlived Outlook";
}

}  // namespace
}  // namespace systemtest
