// The agent with Outlook as the real versions behave, played by the simulator: Outlook 2000 to
// 2007 close only once every outside reference is gone (Quit), Outlook 2010 and later end without
// a word to the add-in (fast shutdown), reminders come due while the agent is still starting,
// something else may hold the hidden agent's role, and the object-model guard refuses or prompts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/harness/message_box_watcher.h"
#include "tests/system/agent_census.h"
#include "tests/system/system_paths.h"
#include "tests/system/system_rig.h"

namespace systemtest {
namespace {

constexpr char kTakenOver[] =
    "Another program holds the role of Brisomel's hidden agent but does not serve Outlook (it may "
    "hang, or it is no Brisomel). This Brisomel serves Outlook's reminders instead.";
constexpr char kGuardBody[] =
    "Outlook refused Brisomel the notes (Body) of an appointment, so reminder calls go out without "
    "their notes.\r\n\r\nOutlook's object-model guard refuses this to programs it does not trust. An "
    "administrator can allow it: Outlook's Trust Center (Programmatic Access), or the programmatic "
    "access policy.";
constexpr char kGuardNumber[] =
    "Outlook refused Brisomel the phone number (\"notifycall\") of an appointment, so its reminder "
    "call could not go out.\r\n\r\nOutlook's object-model guard refuses this to programs it does not "
    "trust. An administrator can allow it: Outlook's Trust Center (Programmatic Access), or the "
    "programmatic access policy.";

// The agent's command line as the add-in gives it, naming the simulator's process.
std::string AddinCommandLineFor(HANDLE outlook) {
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(outlook, &created, &exited, &kernel, &user);
  const unsigned long long count =
      (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  return " /hidewindow yes /outlook " + std::to_string(GetProcessId(outlook)) + " " + std::to_string(count);
}

// The number after `key=` in line, or -1.
long NumberAfter(const std::string& line, const std::string& key) {
  const size_t at = line.find(key + "=");
  return at == std::string::npos ? -1 : std::atol(line.c_str() + at + key.size() + 1);
}

class OutlookVersions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.Ok());
    rig_.WriteSetting("path", REG_SZ, harness::SzBytes(CadeloExe()));
    rig_.AdoptAgentsOf(CadeloExe());
  }
  size_t Agents() const { return ProcessesOf(CadeloExe()).size(); }
  // Waits until no agent runs; prints how long that took after `since` (NowMs()).
  bool NoAgentWithin(DWORD timeoutMs, double since, const char* what) {
    const bool gone = PumpWhile([&] { return Agents() == 0; }, timeoutMs, 5);
    if (gone) std::printf("%s: agent gone %.0f ms after\n", what, NowMs() - since);
    return gone;
  }

  SystemRig rig_;
  harness::MessageBoxWatcher agentBoxes_{kAgentCaption};
};

// Outlook 2007 raises Quit and waits for its outside references: the agent lets go of all of
// them within the second Outlook is given here, and ends by itself (it was started by hand: no
// add-in ends it).
TEST_F(OutlookVersions, QuitReleasesEveryReferenceAndEndsTheAgent) {
  ASSERT_TRUE(rig_.StartOutlook("version \"12.0.0.6423\"\nwait-advise 60s 1\nsleep 300ms\nquit-wait 1s\n"));
  ASSERT_TRUE(rig_.StartAgent());
  const long waited = rig_.OutlookLog().WaitFor("Quit waited ", 20000);
  ASSERT_GE(waited, 0);
  const std::string line = rig_.OutlookLog().Lines()[static_cast<size_t>(waited)].text;
  std::printf("%s\n", line.c_str());
  EXPECT_EQ(NumberAfter(line, "external"), 0) << "a reference outlived Quit by a second";
  EXPECT_GE(rig_.OutlookLog().Find("Event 0xF007 cookie=1 hr=0x00000000"), 0);
  EXPECT_GE(rig_.OutlookLog().Find("Unadvise cookie=1"), 0);
  const double quitSeen = rig_.OutlookLog().Lines()[static_cast<size_t>(waited)].seenAtMs;
  EXPECT_TRUE(rig_.Agent().WaitForExit(10000)) << "the agent stays after Quit";
  std::printf("Quit: agent gone %.0f ms after the simulator logged that it stopped waiting\n", NowMs() - quitSeen);
  EXPECT_EQ(rig_.Agent().ExitCode(), 0u);
  EXPECT_EQ(agentBoxes_.Count(), 0u);
}

// Outlook 2010's fast shutdown calls no add-in: the add-in's job ends the agent with the process.
TEST_F(OutlookVersions, FastShutdownEndsTheAddinsAgent) {
  ASSERT_TRUE(rig_.RegisterAddin());
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\nwait-advise 60s 1\nsleep 300ms\nquit-fast\n", true));
  ASSERT_TRUE(rig_.WaitForNextAdvise()) << "the add-in's agent did not connect";
  ASSERT_EQ(WaitForSingleObject(rig_.OutlookProcess(), 20000), WAIT_OBJECT_0);
  const double ended = NowMs();
  EXPECT_TRUE(NoAgentWithin(10000, ended, "fast shutdown, agent in the add-in's job")) << "the agent outlived Outlook";
  EXPECT_LT(rig_.OutlookLog().Find("Addin Brisomel.Addin OnBeginShutdown"), 0);
  EXPECT_LT(rig_.OutlookLog().Find("Addin Brisomel.Addin OnDisconnection"), 0);
  EXPECT_EQ(agentBoxes_.Count(), 0u);
}

// Where no job could hold the agent (Outlook runs in a job that allows no other), the agent
// started with the add-in's command line watches Outlook's process and ends by itself, quietly.
TEST_F(OutlookVersions, FastShutdownEndsAnAgentOutsideAnyJob) {
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\nwait-advise 60s 1\nsleep 300ms\nquit-fast\n"));
  ASSERT_TRUE(rig_.StartClient(CadeloExe(), AddinCommandLineFor(rig_.OutlookProcess())));
  ASSERT_EQ(WaitForSingleObject(rig_.OutlookProcess(), 20000), WAIT_OBJECT_0);
  const double ended = NowMs();
  EXPECT_TRUE(rig_.Agent().WaitForExit(10000)) << "the agent outlived Outlook";
  std::printf("fast shutdown, agent outside a job: agent gone %.0f ms after\n", NowMs() - ended);
  EXPECT_EQ(rig_.Agent().ExitCode(), 0u);
  EXPECT_EQ(agentBoxes_.Count(), 0u);
}

// Outlook dies while the agent reads a reminder (the read waits for the guard's prompt): the
// broken call ends the agent by itself, without a word, once the reminder it had read is called.
// (The agent was started by hand: neither a job nor Outlook's process on its command line ends it.)
TEST_F(OutlookVersions, AConnectionBrokenDuringAnEventEndsTheAgentQuietly) {
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("1", "cut off", "555-6500") +
                                "guard Body prompt 10s\nwait-advise 60s 1\nfire 1\n"));
  ASSERT_TRUE(rig_.StartAgent());
  ASSERT_GE(rig_.OutlookLog().WaitFor("Item#1 Location get", 20000), 0);
  PumpWhile([] { return false; }, 300);  // the agent now waits for Body
  rig_.KillOutlook();
  EXPECT_TRUE(rig_.Agent().WaitForExit(15000)) << "the agent stays with its Outlook gone";
  EXPECT_EQ(rig_.Agent().ExitCode(), 0u);
  EXPECT_EQ(PhonesOf(rig_.Gateway().Requests()), std::vector<std::string>{"5556500"});
  EXPECT_EQ(agentBoxes_.Count(), 0u);
}

// A reminder Outlook raised before the add-in's agent had connected (no sink heard it) is found
// among Outlook's due reminders and called; its event, raised once more after that, is not
// called again.
TEST_F(OutlookVersions, AReminderDueBeforeTheAgentConnectedIsCalledOnce) {
  ASSERT_TRUE(rig_.RegisterAddin());
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("1", "while starting", "555-6100") +
                                    "item 1 start \"" + LocalTimeIn(15) +
                                    "\"\ndue 1\nwait-advise 60s 2\nfire 1\nsleep 1s\nnote done\n",
                                true));
  ASSERT_TRUE(rig_.WaitForNextAdvise()) << "the add-in's agent did not connect";
  EXPECT_GE(rig_.OutlookLog().Find("Fire 0xF004 Item#1 sinks=0"), 0) << "the agent was there already";
  ASSERT_TRUE(rig_.WaitForRequests(1, 10000)) << "the reminder due before the Advise was not called";
  // Only now is its event raised once more.
  ASSERT_TRUE(rig_.OpenGate());
  ASSERT_GE(rig_.OutlookLog().WaitFor("Note done", 30000), 0);
  PumpWhile([] { return false; }, 1000);
  EXPECT_EQ(PhonesOf(rig_.Gateway().Requests()), std::vector<std::string>{"5556100"});
  EXPECT_EQ(agentBoxes_.Count(), 0u);
}

// Reminders that came due while Outlook was closed are shown when it starts, before any agent
// listens: the one whose appointment is still ahead is called once; one whose appointment has
// begun is no news.
TEST_F(OutlookVersions, AReminderDueWhileOutlookWasClosedIsCalledOnceIfItsAppointmentIsAhead) {
  ASSERT_TRUE(rig_.RegisterAddin());
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("ahead", "still ahead", "555-6600") +
                                    ReminderItem("begun", "begun", "555-6700") + "item ahead start \"" +
                                    LocalTimeIn(5) + "\"\nitem begun start \"" + LocalTimeIn(-10) +
                                    "\"\ndue begun -25m\ndue ahead -10m\nwait-advise 60s 1\nsleep 1s\nnote done\n",
                                true));
  ASSERT_TRUE(rig_.WaitForNextAdvise()) << "the add-in's agent did not connect";
  ASSERT_TRUE(rig_.WaitForRequests(1, 10000)) << "the reminder due while Outlook was closed was not called";
  ASSERT_GE(rig_.OutlookLog().WaitFor("Note done", 30000), 0);
  PumpWhile([] { return false; }, 1000);
  EXPECT_EQ(PhonesOf(rig_.Gateway().Requests()), std::vector<std::string>{"5556600"});
  EXPECT_EQ(agentBoxes_.Count(), 0u);
}

// A process that is no agent holds the role: the agent finds that it does not answer, serves
// Outlook all the same and says so once.
TEST_F(OutlookVersions, ARoleHeldByAProcessThatIsNoAgentStillGivesTheCall) {
  // This test process squats the role; it answers nothing.
  win::KernelHandle squatter(CreateMutexW(nullptr, TRUE, L"Local\\Brisomel.HiddenAgent"));
  ASSERT_TRUE(squatter);
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("1", "squatted", "555-6200") +
                                "wait-advise 60s 1\nfire 1\nsleep 1s\nnote done\n"));
  ASSERT_TRUE(rig_.StartAgent());
  ASSERT_TRUE(rig_.WaitForRequests(1, 20000));
  ASSERT_GE(rig_.OutlookLog().WaitFor("Note done", 10000), 0);
  EXPECT_EQ(PhonesOf(rig_.Gateway().Requests()), std::vector<std::string>{"5556200"});
  ASSERT_TRUE(agentBoxes_.WaitForCount(1, 10000));
  PumpWhile([] { return false; }, 500);
  ASSERT_EQ(agentBoxes_.Count(), 1u);
  EXPECT_EQ(agentBoxes_.Seen()[0].text, kTakenOver);
  ReleaseMutex(squatter.get());
}

// The guard refuses the notes, then the number: the first call goes out without the notes, the
// second reminder cannot be called; each refusal is told once, however often it recurs.
TEST_F(OutlookVersions, TheGuardsRefusalIsToldOncePerKindAndTheCallGoesOutWithoutTheNotes) {
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("1", "guarded", "555-6300") +
                                "item 1 body \"secret notes\"\n" + ReminderItem("2", "no number", "555-6301") +
                                "guard Body deny\nwait-advise 60s 1\nfire 1\nfire 1\n"
                                "guard Body off\nguard Find deny\nfire 2\nfire 2\nsleep 1s\nnote done\n"));
  ASSERT_TRUE(rig_.StartAgent());
  ASSERT_GE(rig_.OutlookLog().WaitFor("Note done", 30000), 0);
  ASSERT_TRUE(rig_.WaitForRequests(2, 10000));
  ASSERT_TRUE(agentBoxes_.WaitForCount(2, 10000));
  PumpWhile([] { return false; }, 1000);
  EXPECT_EQ(PhonesOf(rig_.Gateway().Requests()), (std::vector<std::string>{"5556300", "5556300"}));
  EXPECT_EQ(TextOf(rig_.Gateway().Requests()[0]).find("secret"), std::string::npos);
  EXPECT_EQ(rig_.OutlookLog().Count("Guard denied Item#1 Body"), 2u);
  EXPECT_EQ(rig_.OutlookLog().Count("Guard denied UserProperties#2 Find"), 2u);
  ASSERT_EQ(agentBoxes_.Count(), 2u);
  EXPECT_EQ(agentBoxes_.Seen()[0].text, kGuardBody);
  EXPECT_EQ(agentBoxes_.Seen()[1].text, kGuardNumber);
}

// The guard prompts: the read waits while the user answers, then the call goes out whole, with
// nothing to tell.
TEST_F(OutlookVersions, TheGuardsPromptDelaysTheCallButLosesNothing) {
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("1", "prompted", "555-6400") +
                                "item 1 body \"bring notes\"\nguard Body prompt 2s\nwait-advise 60s 1\nfire 1\n"
                                "note done\n"));
  ASSERT_TRUE(rig_.StartAgent());
  ASSERT_TRUE(rig_.WaitForRequests(1, 30000));
  ASSERT_GE(rig_.OutlookLog().WaitFor("Note done", 10000), 0);
  EXPECT_GE(rig_.OutlookLog().Find("Guard prompt Item#1 Body ms="), 0);
  EXPECT_NE(TextOf(rig_.Gateway().Requests()[0]).find("bring notes"), std::string::npos);
  PumpWhile([] { return false; }, 500);
  EXPECT_EQ(agentBoxes_.Count(), 0u);
}

}  // namespace
}  // namespace systemtest
