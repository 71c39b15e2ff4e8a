// Each reminder call followed to its end, with the real call server: the agent asks the gateway
// (with the call's token: its address is no administrator's) what became of each call and tells
// the user once what did not reach them; a delivered call tells nothing; an agent that ends
// hands what it still follows to the next one; a gateway that gives no token (the stand-in) is
// not asked. Run by follow.sh, which starts the loopback phone (5550100 answers, 5550186 is busy,
// 5550187 never answers, any other number is not found) and talmery-gateway at
// BRISOMEL_FOLLOW_PORT (two tries a second apart, two seconds of ringing), its log at
// BRISOMEL_FOLLOW_LOG.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/harness/message_box_watcher.h"
#include "tests/harness/registry.h"
#include "tests/system/agent_census.h"
#include "tests/system/system_paths.h"
#include "tests/system/fault_run.h"
#include "tests/system/log_follower.h"
#include "tests/system/system_rig.h"

namespace systemtest {
namespace {

uint16_t PortOf(const char* variable) {
  const char* port = std::getenv(variable);
  return port ? static_cast<uint16_t>(std::atoi(port)) : 0;
}
uint16_t FollowPort() { return PortOf("BRISOMEL_FOLLOW_PORT"); }

std::wstring PathOf(const char* variable) {
  const char* path = std::getenv(variable);
  return path ? std::wstring(path, path + std::strlen(path)) : std::wstring();
}
std::wstring GatewayLog() { return PathOf("BRISOMEL_FOLLOW_LOG"); }

// Waits until the gateway's log has a line with `text` at or after line `from`.
bool WaitForGatewayLine(LogFollower& log, const std::string& text, DWORD timeoutMs, size_t from) {
  return PumpWhile(
      [&] {
        log.Poll();
        for (size_t i = from; i < log.Lines().size(); ++i)
          if (log.Lines()[i].text.find(text) != std::string::npos) return true;
        return false;
      },
      timeoutMs, 50);
}

// The boxes' texts, all in one.
std::string AllBoxes(const harness::MessageBoxWatcher& boxes) {
  std::string all;
  for (const harness::SeenBox& box : boxes.Seen()) all += box.text + "\n----\n";
  return all;
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class Follow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(FollowPort(), 0) << "run by tests/system/follow.sh";
    ASSERT_TRUE(rig_.Ok());
    rig_.WritePort(FollowPort());
    // The gateway serves every test of this program: each reads the lines of its own calls.
    gatewayLog_.Poll();
    from_ = gatewayLog_.Lines().size();
  }
  bool WaitForGateway(const std::string& text, DWORD timeoutMs) {
    return WaitForGatewayLine(gatewayLog_, text, timeoutMs, from_);
  }
  size_t Agents() const { return ProcessesOf(CadeloExe()).size(); }
  // Outlook with one reminder per number, fired one after the other, and the agent.
  void StartWith(const std::vector<std::pair<std::string, std::string>>& reminders) {
    std::string script = "version \"16.0.0.1\"\n";
    for (size_t i = 0; i < reminders.size(); ++i)
      script += ReminderItem("r" + std::to_string(i), reminders[i].first, reminders[i].second);
    script += "wait-advise 60s 1\n";
    for (size_t i = 0; i < reminders.size(); ++i) script += "fire r" + std::to_string(i) + "\n";
    ASSERT_TRUE(rig_.StartOutlook(script));
    ASSERT_TRUE(rig_.StartAgent());
  }

  SystemRig rig_;
  harness::MessageBoxWatcher boxes_{kAgentCaption};
  LogFollower gatewayLog_{GatewayLog()};
  size_t from_ = 0;
};

// Busy on every try, never answered, a number the telephone system does not know: each told once,
// in plain words, with the reminder's subject and the number; the call that was answered, not.
TEST_F(Follow, WhatDidNotReachTheUserIsToldOnceWhatDidIsNot) {
  const int calls = 4;
  StartWith({{"Budget review", "555-0100"}, {"Dentist", "555-0186"}, {"Car service", "555-0187"},
             {"Lunch with Bo", "555-0404"}});
  for (const char* end : {"state=done attempt=1 outcome=answered", "state=failed attempt=2 outcome=busy",
                          "state=failed attempt=2 outcome=\"no answer\"", "state=failed attempt=1 outcome=failed"})
    EXPECT_TRUE(WaitForGateway(end, 60000)) << end;
  const double ended = NowMs();
  ASSERT_TRUE(PumpWhile([&] { return Occurrences(AllBoxes(boxes_), "Why: ") >= 3; }, 60000, 50)) << AllBoxes(boxes_);
  std::printf("[ figure ] the last of three undelivered calls told %.0f ms after the last call ended, in %zu boxes\n",
              NowMs() - ended, boxes_.Count());
  // Long enough for a fourth (the delivered call's) to show, were it told.
  PumpWhile([] { return false; }, 8000, 50);
  const std::string all = AllBoxes(boxes_);
  EXPECT_EQ(Occurrences(all, "Why: "), 3u) << all;
  EXPECT_EQ(Occurrences(all, "Budget review"), 0u) << all;
  for (const auto& [subject, number, why] : std::initializer_list<std::tuple<const char*, const char*, const char*>>{
           {"Dentist", "5550186", "busy"},
           {"Car service", "5550187", "not answered after 2 tries"},
           {"Lunch with Bo", "5550404", "the telephone system refused it: 404 Not Found"}}) {
    const size_t at = all.find(std::string("Appointment: ") + subject + ", ");
    ASSERT_NE(at, std::string::npos) << subject << "\n" << all;
    const size_t end = all.find("\r\n", all.find("\r\nWhy: ", at) + 2);
    const std::string notice = all.substr(at, end == std::string::npos ? std::string::npos : end - at);
    EXPECT_NE(notice.find(std::string("\r\nNumber: ") + number + "\r\nWhy: " + why + "."), std::string::npos) << notice;
    EXPECT_EQ(Occurrences(all, std::string("Appointment: ") + subject + ", "), 1u) << all;
  }
  for (const harness::SeenBox& box : boxes_.Seen()) {
    EXPECT_EQ(box.text.rfind("The reminder call did not reach you.\r\n", 0), 0u) << box.text;
    EXPECT_TRUE(box.topmost);
  }
  EXPECT_LE(boxes_.MostOpenAtOnce(), 1u);
  // Its questions carried the token: the gateway answered them, and refused nobody.
  gatewayLog_.Poll();
  for (const SeenLine& line : gatewayLog_.Lines()) EXPECT_EQ(line.text.find("event=refused"), std::string::npos) << line.text;
  ExpectEventsSucceeded(rig_.OutlookLog(), calls);
}

// The agent ends (Outlook closed; the add-in ends its agent) while its call still rings (at the
// gateway whose calls ring twenty seconds): the next agent of the user asks what became of it and
// tells it, once; the first told nothing.
TEST_F(Follow, AnAgentThatEndsHandsItsCallsToTheNextWhichTellsThemOnce) {
  rig_.WritePort(PortOf("BRISOMEL_FOLLOW_SLOW_PORT"));
  LogFollower slowLog(PathOf("BRISOMEL_FOLLOW_SLOW_LOG"));
  // The add-in starts each Outlook's agent, which ends with its Outlook.
  rig_.WriteSetting("path", REG_SZ, harness::SzBytes(CadeloExe()));
  rig_.AdoptAgentsOf(CadeloExe());
  ASSERT_TRUE(rig_.RegisterAddin());
  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n" + ReminderItem("r", "Handed over", "555-0187") +
                                    "wait-advise 60s 1\nfire r\n",
                                true));
  ASSERT_TRUE(rig_.WaitForNextAdvise()) << "the add-in's agent did not connect";
  ASSERT_TRUE(WaitForGatewayLine(slowLog, "state=dialling attempt=1 of=1 number=55***87", 30000, 0));
  const std::vector<DWORD> first = ProcessesOf(CadeloExe());
  ASSERT_TRUE(rig_.QuitOutlook());
  ASSERT_TRUE(PumpWhile([&] { return Agents() == 0; }, 15000, 20)) << "the agent outlived Outlook";
  EXPECT_EQ(boxes_.Count(), 0u) << AllBoxes(boxes_);
  EXPECT_EQ(harness::ValueNames(HKEY_CURRENT_USER, "Software\\Brisomel\\Following").size(), 1u) << "left to the next";

  ASSERT_TRUE(rig_.StartOutlook("version \"16.0.0.1\"\n", true));
  ASSERT_TRUE(rig_.WaitForNextAdvise()) << "the next agent did not connect";
  ASSERT_TRUE(boxes_.WaitForCount(1, 60000)) << "the next agent told nothing";
  PumpWhile([] { return false; }, 8000, 50);
  ASSERT_EQ(boxes_.Count(), 1u) << AllBoxes(boxes_);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_NE(boxes_.Seen()[0].pid, first[0]);
  EXPECT_NE(boxes_.Seen()[0].text.find("Appointment: Handed over, "), std::string::npos) << boxes_.Seen()[0].text;
  EXPECT_NE(boxes_.Seen()[0].text.find("\r\nNumber: 5550187\r\nWhy: not answered after 1 try."), std::string::npos)
      << boxes_.Seen()[0].text;
  EXPECT_TRUE(WaitForGatewayLine(slowLog, "state=failed attempt=1 outcome=\"no answer\"", 1000, 0)) << "told before its end";
  EXPECT_TRUE(PumpWhile([] { return harness::ValueNames(HKEY_CURRENT_USER, "Software\\Brisomel\\Following").empty(); },
                        5000, 50))
      << "told and read: no agent follows it any more";
}

// A gateway of an earlier version (the stand-in) answers the id alone: the agent asks it nothing
// more and tells nothing.
TEST_F(Follow, AGatewayThatGivesNoTokenIsNotAsked) {
  rig_.WritePort(rig_.Gateway().Port());
  StartWith({{"Old gateway", "555-0100"}});
  ASSERT_TRUE(rig_.WaitForRequests(1, 30000));
  PumpWhile([] { return false; }, 2 * 1000 * 5 + 2000, 50);  // twice the time to the first question
  EXPECT_EQ(rig_.Gateway().Requests().size(), 1u);
  EXPECT_EQ(rig_.Gateway().Requests()[0].method, "POST");
  EXPECT_EQ(boxes_.Count(), 0u) << AllBoxes(boxes_);
}

}  // namespace
}  // namespace systemtest
