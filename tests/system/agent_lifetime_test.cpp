// The agent's life follows Outlook's: the add-in's agent ends when Outlook dies however it dies,
// one hidden agent serves Outlook (a second ends quietly, so no reminder is called twice), and an
// add-in enabled while Outlook runs starts its agent as well.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/harness/message_box_watcher.h"
#include "tests/system/agent_census.h"
#include "tests/system/system_paths.h"
#include "tests/system/system_rig.h"

namespace systemtest {
namespace {

class AgentLifetime : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.Ok());
    // As the agent's visible start records it, for the add-in to start.
    rig_.WriteSetting("path", REG_SZ, harness::SzBytes(CadeloExe()));
    rig_.AdoptAgentsOf(CadeloExe());
  }
  size_t Agents() const { return ProcessesOf(CadeloExe()).size(); }

  SystemRig rig_;
  harness::MessageBoxWatcher agentBoxes_{kAgentCaption};
  harness::MessageBoxWatcher addinBoxes_{kAddinCaption};
};

// Outlook crashes: its agent goes with it (the add-in's job ends it), and the Outlook started
// next is served by exactly one new agent, which calls.
TEST_F(AgentLifetime, TheAddinsAgentEndsWithAKilledOutlookAndTheNextOutlookGetsOneNewAgent) {
  ASSERT_TRUE(rig_.RegisterAddin());
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n", true));
  ASSERT_TRUE(rig_.WaitForNextAdvise()) << "the add-in's agent did not connect";
  ASSERT_EQ(Agents(), 1u);

  const double killed = NowMs();
  rig_.KillOutlook();
  EXPECT_TRUE(PumpWhile([&] { return Agents() == 0; }, 15000, 20)) << "the agent outlived Outlook";
  std::printf("agent ended %.0f ms after Outlook was killed\n", NowMs() - killed);

  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("1", "after the crash", "555-5100") +
                                    "wait-advise 60s 1\nfire 1\nnote done\n",
                                true));
  ASSERT_TRUE(rig_.WaitForRequests(1, 30000));
  ASSERT_GE(rig_.OutlookLog().WaitFor("Note done", 10000), 0);
  EXPECT_EQ(PhoneOf(rig_.Gateway().Requests()[0]), "5555100");
  EXPECT_EQ(Agents(), 1u);
  EXPECT_EQ(agentBoxes_.Count(), 0u);
  EXPECT_EQ(addinBoxes_.Count(), 0u);
}

// A second hidden agent (a stray start, a second add-in) ends by itself without a word and never
// connects: the reminder is called once.
TEST_F(AgentLifetime, ASecondHiddenAgentEndsQuietlyAndTheReminderIsCalledOnce) {
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("1", "once", "555-5200") +
                                "wait-advise 60s 1\nsleep 8s\nfire 1\nsleep 2s\nnote done\n"));
  ASSERT_TRUE(rig_.StartAgent());
  harness::Process twin = harness::Process::Launch(CadeloExe(), " /hidewindow yes");
  ASSERT_TRUE(twin.Started());
  ASSERT_TRUE(twin.WaitForExit(30000)) << "the second agent stays";
  EXPECT_EQ(twin.ExitCode(), 0u);

  ASSERT_GE(rig_.OutlookLog().WaitFor("Note done", 30000), 0);
  EXPECT_EQ(rig_.Gateway().RequestCount(), 1u);
  EXPECT_EQ(rig_.OutlookLog().Count("Advise cookie="), 1u);
  EXPECT_TRUE(rig_.Agent().Running());
  EXPECT_EQ(agentBoxes_.Count(), 0u);
}

// Enabled in Outlook's COM add-ins dialog while Outlook runs: OnConnection comes after start-up
// and no OnStartupComplete follows; the agent starts all the same and ends with Outlook.
TEST_F(AgentLifetime, AnAddinEnabledWhileOutlookRunsStartsItsAgent) {
  ASSERT_TRUE(rig_.RegisterAddin());
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\nconnect-addin Brisomel.Addin\n" +
                                ReminderItem("1", "enabled later", "555-5300") +
                                "wait-advise 60s 1\nfire 1\nnote done\n"));
  ASSERT_TRUE(rig_.WaitForRequests(1, 30000));
  EXPECT_EQ(PhoneOf(rig_.Gateway().Requests()[0]), "5555300");
  EXPECT_GE(rig_.OutlookLog().WaitFor("Addin Brisomel.Addin OnConnection(0) hr=0x00000000", 10000), 0);
  EXPECT_LT(rig_.OutlookLog().Find("Addin Brisomel.Addin OnStartupComplete"), 0);
  ASSERT_TRUE(rig_.QuitOutlook());
  EXPECT_TRUE(PumpWhile([&] { return Agents() == 0; }, 10000, 50)) << "the agent outlived Outlook";
  EXPECT_EQ(addinBoxes_.Count(), 0u);
}

}  // namespace
}  // namespace systemtest
