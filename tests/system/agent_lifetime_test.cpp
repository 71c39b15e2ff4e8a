// The agent's life follows Outlook's: the add-in's agent ends when Outlook dies however it dies
// (an agent started by hand: outlook_death_test.cpp); one hidden agent serves Outlook (a second ends quietly,
// also while the first still waits for a busy Outlook, so no reminder is called twice); an add-in
// enabled while Outlook runs starts its agent as well, and an agent that replaces another calls
// nothing that one called.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/harness/message_box_watcher.h"
#include "tests/harness/registry.h"
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

// Outlook is busy as it starts and turns the first agent's calls away: that agent holds the role
// and answers for it while it waits, so a second hidden agent (started by hand, or by a second
// registration of the add-in) ends quietly instead of taking over. One Advise, one call, no box.
TEST_F(AgentLifetime, ASecondAgentEndsWhileTheFirstStillWaitsForABusyOutlook) {
  for (const bool secondAddin : {false, true}) {
    SCOPED_TRACE(secondAddin ? "a second add-in" : "started by hand");
    SystemRig rig;
    ASSERT_TRUE(rig.Ok());
    rig.WriteSetting("path", REG_SZ, harness::SzBytes(CadeloExe()));
    rig.AdoptAgentsOf(CadeloExe());
    ASSERT_TRUE(rig.RegisterAddin());
    // The same add-in under a second ProgID: Outlook loads it twice.
    harness::ScopedRegistryKey twinClass(HKEY_CLASSES_ROOT, "Brisomel.Addin.Twin");
    harness::ScopedRegistryKey twinAddin(HKEY_CURRENT_USER,
                                         "Software\\Microsoft\\Office\\Outlook\\Addins\\Brisomel.Addin.Twin");
    if (secondAddin) {
      ASSERT_TRUE(harness::WriteValue(HKEY_CLASSES_ROOT, "Brisomel.Addin.Twin\\CLSID", "", REG_SZ,
                                      harness::SzBytes("{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}")));
      ASSERT_TRUE(harness::WriteValue(HKEY_CURRENT_USER, twinAddin.key(), "LoadBehavior", REG_DWORD,
                                      harness::DwordBytes(3)));
    }
    ASSERT_TRUE(rig.StartOutlook("version \"16.0.0.1\"\nbusy 10s reject\n" + ReminderItem("1", "busy", "555-5400") +
                                     "wait-advise 60s 1\nfire 1\nsleep 1s\nnote done\n",
                                 true));
    // The first agent holds the role and is turned away.
    ASSERT_GE(rig.OutlookLog().WaitFor("Busy rejected call", 30000), 0);
    harness::Process twin;
    if (!secondAddin) {
      twin = harness::Process::Launch(CadeloExe(), " /hidewindow yes");
      ASSERT_TRUE(twin.Started());
      ASSERT_TRUE(twin.WaitForExit(30000)) << "the second agent stays";
      EXPECT_EQ(twin.ExitCode(), 0u);
    }
    ASSERT_TRUE(rig.WaitForRequests(1, 40000));
    ASSERT_GE(rig.OutlookLog().WaitFor("Note done", 30000), 0);
    EXPECT_EQ(PhonesOf(rig.Gateway().Requests()), std::vector<std::string>{"5555400"});
    EXPECT_EQ(rig.OutlookLog().Count("Advise cookie="), 1u);
    EXPECT_EQ(rig.OutlookLog().Count("Addin Brisomel.Addin.Twin OnStartupComplete hr=0x00000000"),
              secondAddin ? 1u : 0u);
    EXPECT_EQ(Agents(), 1u);
    EXPECT_EQ(agentBoxes_.Count(), 0u);
  }
}

// An agent replaced while Outlook runs (the add-in disabled and enabled again; an agent that died
// and was started anew by hand): the new one calls the reminder that came due while none served,
// and not the one the agent before it called.
TEST_F(AgentLifetime, AnAgentThatReplacesAnotherCallsWhatCameDueMeanwhileAndNothingTwice) {
  for (const bool byAddin : {true, false}) {
    SCOPED_TRACE(byAddin ? "add-in enabled again" : "agent started anew by hand");
    SystemRig rig;
    ASSERT_TRUE(rig.Ok());
    rig.WriteSetting("path", REG_SZ, harness::SzBytes(CadeloExe()));
    rig.AdoptAgentsOf(CadeloExe());
    if (byAddin) {
      ASSERT_TRUE(rig.RegisterAddin());
    }
    const std::string start = LocalTimeIn(30);
    ASSERT_TRUE(rig.StartOutlook(
        "version \"16.0.0.1\"\n" + ReminderItem("1", "before", "555-5600") +
            ReminderItem("2", "meanwhile", "555-5700") + "item 1 start \"" + start + "\"\nitem 2 start \"" + start +
            "\"\nwait-advise 60s 1\ndue 1\nwait-advise 60s 2\n" +
            (byAddin ? "remove-addin Brisomel.Addin\n" : "") + "due 2\n" +
            (byAddin ? "connect-addin Brisomel.Addin\n" : "") + "note replaced\n",
        byAddin));
    if (byAddin) {
      ASSERT_TRUE(rig.WaitForNextAdvise()) << "the add-in's agent did not connect";
    } else {
      ASSERT_TRUE(rig.StartAgent());
    }
    ASSERT_TRUE(rig.WaitForRequests(1, 20000));
    if (!byAddin) rig.Agent().Terminate();  // as if it had crashed
    ASSERT_TRUE(rig.OpenGate());
    ASSERT_GE(rig.OutlookLog().WaitFor("Note replaced", 20000), 0);
    if (byAddin) {
      ASSERT_TRUE(rig.WaitForNextAdvise()) << "the enabled add-in started no agent";
    } else {
      ASSERT_TRUE(rig.StartAgent());
    }
    // The look goes through Outlook's reminders in order: a second call of 1 would come first.
    ASSERT_TRUE(rig.WaitForRequests(2, 20000));
    PumpWhile([] { return false; }, 1000);
    EXPECT_EQ(PhonesOf(rig.Gateway().Requests()), (std::vector<std::string>{"5555600", "5555700"}));
    EXPECT_EQ(agentBoxes_.Count(), 0u);
  }
}

}  // namespace
}  // namespace systemtest
