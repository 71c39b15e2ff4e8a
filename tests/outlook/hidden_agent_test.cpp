// The hidden agent end to end: outlook-sim as Outlook, cadelo.exe started with "/hidewindow yes",
// the stand-in gateway in this process.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/harness/message_box_watcher.h"
#include "tests/outlook/hidden_agent.h"
#include "tests/outlook/sim_support.h"
#include "tools/gateway/form.h"

namespace outlook_test {
namespace {

using simdriver::PumpUntil;
using simdriver::SimProcess;

constexpr char kWorkedExampleBody[] =
    "calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=Hi%2c+this+is+Ann+Lee%27s+appointment+reminder+call+"
    "program%2e%0aYou+have+an+appointment+coming+up+in+15+minutes%2e%0aThe+appointment+subject+is%3a+Budget+"
    "review%0a";

class HiddenAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gateway_.Start());
    WriteCallSettings(gateway_.Port(), "Ann", "Lee", "555-0199");
  }

  AgentRegistry registry_;
  gateway::Server gateway_;
};

TEST_F(HiddenAgentTest, AReminderInOutlookEndsAsTheCallRequestAtTheGateway) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim,
                       "version \"16.0.0.1\"\n"
                       "item 1 class \"ipm.appointment.REMINDERCALL\" start +15m minutes 15 subject \"Budget review\"\n"
                       "item 1 prop notifycall text \"555-0100\"\n"
                       // The agent's look at the reminders due at its start is over before the
                       // event, so the event's calls are its own in the log.
                       "wait-advise 30s\nwait-reminders-released 30s\n"
                       "fire 1\nrefcounts\nnote fired\nwait-unadvise 60s\n"));
  HiddenAgent agent;
  ASSERT_TRUE(agent.Start());

  ASSERT_TRUE(gateway_.WaitForRequests(1, 30000));
  const gateway::RecordedRequest request = gateway_.Requests()[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/ocall/callreqHandler.jsp");
  EXPECT_EQ(request.Header("Content-Type"),
            "application/x-www-form-urlencoded; charset=windows-" + std::to_string(GetACP()));
  EXPECT_EQ(request.body, kWorkedExampleBody);

  ASSERT_TRUE(sim.WaitForLine("Note fired", 10000));
  const std::vector<std::string> log = sim.Log();
  EXPECT_EQ(TraceOfEvent(log, "1").calls,
            (std::vector<std::string>{
                "Item#1 MessageClass get", "Item#1 Start get", "Item#1 UserProperties get",
                "UserProperties#1 Find method (\"notifycall\", VT_I2 1)", "UserProperty#1.notifycall Value get",
                "Item#1 EntryID get", "Item#1 Subject get", "Item#1 Location get", "Item#1 Body get",
                "Item#1 ReminderMinutesBeforeStart get"}));
  EXPECT_EQ(ResultOf(TraceOfEvent(log, "1").event), "hr=0x00000000");
  EXPECT_EQ(ExternalRefs(log, "Item#1"), 0);
  EXPECT_EQ(LinesStartingWith(log, "Advise"), std::vector<std::string>{"Advise cookie=1"});
  EXPECT_TRUE(LinesStartingWith(log, "Unadvise").empty()) << "unadvised while running";

  // Ending by itself, the agent unadvises once and lets go of Outlook.
  DWORD exitCode = 99;
  ASSERT_TRUE(agent.ExitByItself(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  DWORD simExit = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &simExit));
  EXPECT_EQ(simExit, 0u);
  EXPECT_EQ(LinesStartingWith(sim.Log(), "Unadvise"), std::vector<std::string>{"Unadvise cookie=1"});
  EXPECT_FALSE(agent.EverShowedAWindow()) << "the main window became visible";
  EXPECT_EQ(gateway_.RequestCount(), 1u);
}

TEST_F(HiddenAgentTest, TerminatedByTheAddinTheAgentNeverUnadvises) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "item 1 class \"IPM.Appointment.ReminderCall\"\nwait-advise 30s\nfire 1\nnote fired\n"
                            "sleep 500ms\nquit\n"));
  HiddenAgent agent;
  ASSERT_TRUE(agent.Start());
  ASSERT_TRUE(gateway_.WaitForRequests(1, 30000));
  ASSERT_TRUE(sim.WaitForLine("Note fired", 10000));
  agent.Terminate();
  DWORD simExit = 99;
  ASSERT_TRUE(sim.WaitForExit(20000, &simExit));
  EXPECT_TRUE(LinesStartingWith(sim.Log(), "Unadvise").empty());
  EXPECT_FALSE(agent.EverShowedAWindow());
  // The own number: the item has no notifycall.
  EXPECT_EQ(gateway::FormField(gateway::ParseForm(gateway_.Requests()[0].body), "phoneno"), "5550199");
}

TEST_F(HiddenAgentTest, StartUpFailuresEndTheAgentWithExitCodeZeroAndNoSink) {
  struct Row {
    const char* name;
    const char* version;  // null: Outlook is not registered
    const char* message;
  };
  const Row rows[] = {
      {"too old", "8.5", "Cannot find Outlook 2000 or later version, Outbound reminder will not work"},
      {"no number", "x.5", "Cannot read the version of Microsoft Outlook, Outbound reminder will not work"},
      {"not registered", nullptr, "Cannot find Microsoft Outlook"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    harness::MessageBoxWatcher boxes("Brisomel");
    SimProcess sim(SimExe());
    if (row.version) {
      ASSERT_TRUE(StartSim(sim, std::string("version \"") + row.version + "\"\n"));
    } else {
      ASSERT_TRUE(sim.Unregister());
    }
    HiddenAgent agent;
    ASSERT_TRUE(agent.Start());
    DWORD exitCode = 99;
    ASSERT_TRUE(agent.WaitForExit(30000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(agent.EverShowedAWindow());
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, row.message);
    EXPECT_EQ(boxes.Seen()[0].pid, agent.Pid());
    if (row.version) {
      DWORD simExit = 99;
      ASSERT_TRUE(sim.WaitForExit(20000, &simExit));
      EXPECT_EQ(simExit, 0u);
      EXPECT_TRUE(LinesStartingWith(sim.Log(), "Advise").empty());
      EXPECT_TRUE(LinesStartingWith(sim.Log(), "Unadvise").empty());
    } else {
      ASSERT_TRUE(sim.Register());
    }
    EXPECT_EQ(gateway_.RequestCount(), 0u);
  }
}

TEST_F(HiddenAgentTest, ABurstOfAHundredRemindersReachesTheGatewayInFiringOrder) {
  std::string items, fires;
  for (int i = 1; i <= 100; ++i) {
    const std::string name = "r" + std::to_string(i);
    items += "item " + name + " class \"IPM.Appointment.ReminderCall\" subject \"Reminder " + std::to_string(i) +
             "\" prop notifycall text \"555-" + std::to_string(1000 + i) + "\"\n";
    fires += "fire " + name + "\n";
  }
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "version \"16.0.0.1\"\n" + items + "wait-advise 30s\n" + fires + "note fired\n"
                            "wait-unadvise 120s\n"));
  HiddenAgent agent;
  ASSERT_TRUE(agent.Start());
  ASSERT_TRUE(gateway_.WaitForRequests(100, 120000)) << gateway_.RequestCount();
  const std::vector<gateway::RecordedRequest> requests = gateway_.Requests();
  for (int i = 1; i <= 100; ++i) {
    const auto form = gateway::ParseForm(requests[static_cast<size_t>(i - 1)].body);
    EXPECT_EQ(gateway::FormField(form, "phoneno"), "555" + std::to_string(1000 + i));
    EXPECT_NE(gateway::FormField(form, "txt").find("The appointment subject is: Reminder " + std::to_string(i) + "\n"),
              std::string::npos);
  }
  ASSERT_TRUE(sim.WaitForLine("Note fired", 60000));
  EXPECT_EQ(LinesStartingWith(sim.Log(), "Event 0xF004").size(), 100u);
  for (const std::string& line : LinesStartingWith(sim.Log(), "Event 0xF004")) {
    EXPECT_EQ(ResultOf(line), "hr=0x00000000") << line;
  }
  DWORD exitCode = 99;
  ASSERT_TRUE(agent.ExitByItself(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
  EXPECT_EQ(gateway_.RequestCount(), 100u);
  EXPECT_FALSE(agent.EverShowedAWindow());
}

// The gateway exchange serves COM calls while it waits, so events fired meanwhile return at once
// and their requests follow in firing order.
TEST_F(HiddenAgentTest, ASlowGatewayDelaysTheCallsNotTheEventCalls) {
  gateway::Answer slow;
  slow.delayMs = 5000;
  slow.autoId = true;
  gateway_.QueueAnswers({slow});
  std::string items, fires;
  for (int i = 1; i <= 5; ++i) {
    items += "item r" + std::to_string(i) + " class \"IPM.Appointment.ReminderCall\" subject \"Reminder " +
             std::to_string(i) + "\"\n";
    fires += "fire r" + std::to_string(i) + "\n";
  }
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "version \"16.0.0.1\"\n" + items + "wait-advise 30s\n" + fires + "note fired\n"
                            "wait-unadvise 60s\n"));
  HiddenAgent agent;
  ASSERT_TRUE(agent.Start());
  // All five events have returned while the gateway still holds back its first answer: the
  // other four requests are still waiting in the agent.
  ASSERT_TRUE(sim.WaitForLine("Note fired", 30000));
  EXPECT_EQ(gateway_.RequestCount(), 1u);
  for (const std::string& line : LinesStartingWith(sim.Log(), "Event 0xF004")) {
    EXPECT_EQ(ResultOf(line), "hr=0x00000000") << line;
  }
  ASSERT_TRUE(gateway_.WaitForRequests(5, 30000));
  const std::vector<gateway::RecordedRequest> requests = gateway_.Requests();
  for (int i = 1; i <= 5; ++i) {
    EXPECT_NE(requests[static_cast<size_t>(i - 1)].body.find("Reminder+" + std::to_string(i) + "%0a"), std::string::npos);
  }
  DWORD exitCode = 99;
  ASSERT_TRUE(agent.ExitByItself(20000, &exitCode));
  EXPECT_EQ(exitCode, 0u);
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
}

// Any program on the desktop can post to the hidden agent's main window. Neither a command 101
// with a made-up record address nor the hand-over's own wake-up frees anything or calls anybody;
// the agent goes on calling the reminders Outlook raises.
TEST_F(HiddenAgentTest, AForgedHandOverIsIgnored) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "version \"16.0.0.1\"\n"
                            "item 1 class \"IPM.Appointment.ReminderCall\" subject \"Real\"\n"
                            "wait-advise 30s\nsleep 1s\nfire 1\nnote fired\nwait-unadvise 60s\n"));
  HiddenAgent agent;
  ASSERT_TRUE(agent.Start());
  HWND frame = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (frame = agent.MainFrame()) != nullptr; }, 20000));
  for (const WPARAM command : {WPARAM{101}, MAKEWPARAM(101, 1)}) {
    for (const LPARAM address : {LPARAM{0x12345678}, LPARAM{0}, LPARAM{-1}}) {
      EXPECT_TRUE(PostMessageA(frame, WM_COMMAND, command, address));
    }
  }
  EXPECT_TRUE(PostMessageA(frame, WM_APP + 101, 0, 0x12345678));
  ASSERT_TRUE(gateway_.WaitForRequests(1, 30000));
  ASSERT_TRUE(sim.WaitForLine("Note fired", 10000));
  PumpUntil([] { return false; }, 500);
  EXPECT_EQ(gateway_.RequestCount(), 1u);
  EXPECT_NE(gateway::FormField(gateway::ParseForm(gateway_.Requests()[0].body), "txt").find("subject is: Real\n"),
            std::string::npos);
  DWORD exitCode = 99;
  ASSERT_TRUE(agent.ExitByItself(20000, &exitCode)) << "the agent did not survive the forged messages";
  EXPECT_EQ(exitCode, 0u);
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
}

// The call says how long it really is until the start: a reminder snoozed to 3 minutes before
// its start says 3 minutes, not its 15 minutes before; one raised after the start says it has
// begun. firstocc keeps the reminder's minutes before the start.
TEST_F(HiddenAgentTest, TheCallSaysTheTimeReallyLeft) {
  SimProcess sim(SimExe());
  ASSERT_TRUE(StartSim(sim, "version \"16.0.0.1\"\n"
                            "item snoozed class \"IPM.Appointment.ReminderCall\" start +3m minutes 15\n"
                            "item begun class \"IPM.Appointment.ReminderCall\" start -1m minutes 15\n"
                            "wait-advise 30s\nfire snoozed\nfire begun\nnote fired\nwait-unadvise 60s\n"));
  HiddenAgent agent;
  ASSERT_TRUE(agent.Start());
  ASSERT_TRUE(gateway_.WaitForRequests(2, 30000));
  const std::vector<gateway::RecordedRequest> requests = gateway_.Requests();
  const char* const said[] = {"You have an appointment coming up in 3 minutes.\n",
                              "Your appointment has already begun.\n"};
  for (size_t i = 0; i < 2; ++i) {
    const auto form = gateway::ParseForm(requests[i].body);
    const std::string text = gateway::FormField(form, "txt");
    EXPECT_EQ(text.substr(text.find('\n') + 1), said[i]);
    EXPECT_EQ(gateway::FormField(form, "firstocc"), "15");
  }
  DWORD exitCode = 99;
  ASSERT_TRUE(agent.ExitByItself(20000, &exitCode));
  ASSERT_TRUE(sim.WaitForExit(20000, nullptr));
}

}  // namespace
}  // namespace outlook_test
