// What people see: masked numbers, escaped text, call texts only when configured.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>

#include "gateway/status_view.h"

namespace talmery {
namespace {

TEST(StatusView, NumbersArePartlyMasked) {
  const struct {
    const char* number;
    const char* masked;
  } cases[] = {{"5550100", "55***00"}, {"+4930123456", "+4*******56"}, {"12345", "***45"}, {"1234", "***4"}, {"1", "1"}};
  for (const auto& c : cases) EXPECT_EQ(MaskNumber(c.number), c.masked);
}

CallRecord Sample() {
  CallRecord c;
  c.id = 7;
  c.number = "5550100";
  c.text = "Meet <b>Bob</b> & \"Ann\"\nRoom 4";
  c.state = state::kBusy;
  c.attempts = 1;
  c.maxAttempts = 3;
  c.createdMs = 1700000000000;
  c.updatedMs = 1700000001000;
  c.nextMs = 1700000061000;
  c.reason = "busy (486 <Busy>) on try 1 of 3";
  AttemptRecord a;
  a.attempt = 1;
  a.line = 0;
  a.startedMs = 1700000000500;
  a.endedMs = 1700000001000;
  a.outcome = "busy";
  a.detail = "486 Busy Here";
  c.history.push_back(a);
  return c;
}

TEST(StatusView, PageEscapesAndShowsTextOnlyWhenAllowed) {
  ViewOptions hidden;
  hidden.refreshSeconds = 7;
  hidden.mode = "SIP";
  const std::string page = StatusPage({Sample()}, hidden, 1700000002000);
  EXPECT_NE(page.find("<meta http-equiv=\"refresh\" content=\"7\">"), std::string::npos);
  EXPECT_NE(page.find("<td>55***00</td><td>busy</td><td>1 of 3</td>"), std::string::npos);
  EXPECT_NE(page.find("busy (486 &lt;Busy&gt;) on try 1 of 3; next try "), std::string::npos);
  EXPECT_NE(page.find("<br><small>try 1 busy: 486 Busy Here</small></td>"), std::string::npos) << page;
  EXPECT_EQ(page.find("5550100"), std::string::npos);
  EXPECT_EQ(page.find("Bob"), std::string::npos);

  ViewOptions shown = hidden;
  shown.showText = true;
  const std::string withText = StatusPage({Sample()}, shown, 1700000002000);
  EXPECT_NE(withText.find("<pre>Meet &lt;b&gt;Bob&lt;/b&gt; &amp; &quot;Ann&quot;\nRoom 4</pre>"), std::string::npos);
  CallRecord removed = Sample();
  removed.text.reset();
  EXPECT_NE(StatusPage({removed}, shown, 0).find("<i>removed</i>"), std::string::npos);
}

TEST(StatusView, JsonOfOneCall) {
  ViewOptions hidden;
  nlohmann::json j = nlohmann::json::parse(CallJson(Sample(), hidden));
  EXPECT_EQ(j["id"], 7);
  EXPECT_EQ(j["number"], "55***00");
  EXPECT_EQ(j["state"], "busy");
  EXPECT_EQ(j["attempts"], 1);
  EXPECT_EQ(j["max_attempts"], 3);
  EXPECT_EQ(j["next_attempt"], "2023-11-14T22:14:21.000Z");
  EXPECT_FALSE(j.contains("text"));
  ASSERT_EQ(j["history"].size(), 1u);
  EXPECT_EQ(j["history"][0]["outcome"], "busy");
  EXPECT_EQ(j["history"][0]["detail"], "486 Busy Here");
  EXPECT_TRUE(j["history"][0]["answered"].is_null());
  EXPECT_TRUE(j["history"][0]["answerer"].is_null());
  EXPECT_TRUE(j["answerer"].is_null());

  // Who answered: with each try, and for the call the last try that was answered.
  CallRecord left = Sample();
  AttemptRecord mailbox = left.history[0];
  mailbox.attempt = 2;
  mailbox.outcome = "answered";
  mailbox.answerer = "machine";
  mailbox.detail = "left on voicemail after the tone";
  left.history.push_back(mailbox);
  j = nlohmann::json::parse(CallJson(left, hidden));
  EXPECT_EQ(j["answerer"], "machine");
  EXPECT_TRUE(j["history"][0]["answerer"].is_null());
  EXPECT_EQ(j["history"][1]["answerer"], "machine");
  EXPECT_NE(ConsoleList({left}, hidden).find("try 1 busy: 486 Busy Here; try 2 answered (machine): left on voicemail after "
                                             "the tone"),
            std::string::npos)
      << ConsoleList({left}, hidden);

  ViewOptions shown;
  shown.showText = true;
  EXPECT_EQ(nlohmann::json::parse(CallJson(Sample(), shown))["text"], *Sample().text);
}

// What a caller needs to follow its call: whether it is over, when to ask again (the next
// try's time, else half a minute) and until when; the caller's token is never shown anywhere.
TEST(StatusView, JsonTellsTheCallerHowToFollowTheCall) {
  ViewOptions view;
  view.nowMs = 1700000001000;
  EXPECT_EQ(FollowMs(60, 60, 30, 600, 2, 5), (3600 + 60 + 30 + 600 + 60 + 2 * (300 + 30 + 600)) * 1000LL);
  view.followMs = FollowMs(60, 60, 30, 600, 0, 5);
  EXPECT_EQ(view.followMs, (3600 + 60 + 30 + 600 + 60) * 1000LL);
  const struct {
    const char* state;
    std::optional<long long> nextMs;
    bool final;
    int askAgain;
    long long followSeconds;
  } cases[] = {
      {state::kBusy, 1700000061000, false, 60, 4349},      // the retry in a minute
      {state::kNoAnswer, 1700000001400, false, 1, 4349},   // due within the second
      {state::kQueued, 1700000000000, false, 30, 4349},    // due already: waiting for a line
      {state::kDialling, std::nullopt, false, 30, 4349},
      {state::kAnswered, std::nullopt, false, 30, 4349},
      {state::kSnoozed, 1700000301000, false, 300, 4349},  // key 2: called again in five minutes
      {state::kDone, std::nullopt, true, 0, 0},
      {state::kFailed, std::nullopt, true, 0, 0},
      {state::kExpired, std::nullopt, true, 0, 0},
  };
  for (const auto& t : cases) {
    CallRecord c = Sample();
    c.state = t.state;
    c.nextMs = t.nextMs;
    c.callerToken = "0123456789abcdef0123456789abcdef";
    const std::string text = CallJson(c, view);
    const nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_EQ(j["final"], t.final) << t.state;
    EXPECT_EQ(j["ask_again_seconds"], t.askAgain) << t.state;
    EXPECT_EQ(j["follow_seconds"], t.followSeconds) << t.state;
    EXPECT_EQ(j["follow_until"], "2023-11-14T23:25:50.000Z") << t.state;
    EXPECT_EQ(j["reason"], c.reason) << "every field stays";
    for (const std::string& shown : {text, StatusPage({c}, view, view.nowMs), ConsoleList({c}, view)})
      EXPECT_EQ(shown.find(c.callerToken), std::string::npos) << t.state;
  }
}

TEST(StatusView, ConsoleListIndentsTexts) {
  ViewOptions shown;
  shown.showText = true;
  const std::string list = ConsoleList({Sample()}, shown);
  EXPECT_NE(list.find("     7  55***00         busy       1 of 3    "), std::string::npos) << list;
  EXPECT_NE(list.find("next try " + LocalTime(1700000061000) + "\n        try 1 busy: 486 Busy Here\n        Meet <b>Bob</b> & "
                      "\"Ann\"\n        Room 4\n"),
            std::string::npos)
      << list;
  EXPECT_EQ(ConsoleList({}, shown).substr(ConsoleList({}, shown).find('\n') + 1), "(no calls)\n");
}

// A store shared by several gateways: each call names its node, and the nodes have a table.
TEST(StatusView, NodesOfASharedStore) {
  ViewOptions view;
  view.showNodes = true;
  NodeRecord running, silent, stopped;
  running.node = "gw-a";
  running.host = "h1";
  running.seenMs = 1700000000000;
  running.lines = 4;
  running.linesInUse = 1;
  running.registration = "registered";
  silent.node = "gw-b";
  silent.silent = true;
  silent.leaseSeconds = 30;
  stopped.node = "gw-c";
  stopped.stoppedMs = 1700000001000;
  view.nodes = {running, silent, stopped};
  CallRecord call = Sample();
  call.node = "gw-b";
  call.history[0].node = "gw-b";

  const std::string page = StatusPage({call}, view, 1700000002000);
  EXPECT_NE(page.find("<tr><td>gw-a</td><td>h1</td><td>running</td><td>" + LocalTime(1700000000000) +
                      "</td><td>1 of 4</td><td>registered</td></tr>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<td>silent longer than its lease (30 s)</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>stopped " + LocalTime(1700000001000) + "</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>7</td><td>gw-b</td><td>55***00</td>"), std::string::npos);
  const std::string list = ConsoleList({call}, view);
  EXPECT_NE(list.find("  gw-a (h1): running; last seen " + LocalTime(1700000000000) +
                      "; lines in use 1 of 4; registration registered\n"),
            std::string::npos)
      << list;
  EXPECT_NE(list.find("     7  gw-b          55***00         busy"), std::string::npos) << list;
  const nlohmann::json j = nlohmann::json::parse(CallJson(call, view));
  EXPECT_EQ(j["node"], "gw-b");
  EXPECT_EQ(j["history"][0]["node"], "gw-b");
  EXPECT_TRUE(nlohmann::json::parse(CallJson(Sample(), view))["node"].is_null()) << "never tried";
  EXPECT_EQ(StatusPage({call}, {}, 0).find("gw-b"), std::string::npos) << "one gateway: no node column";
}

// What the PBX, the callee or a client wrote reaches the terminal shown, not acted on.
TEST(StatusView, ConsoleListShowsControlBytes) {
  ViewOptions shown;
  shown.showText = true;
  CallRecord c = Sample();
  c.reason = "486 \x1b]0;owned\x07";
  c.text = "Room 4\x1b[2J\nfloor \xC2\x9B" "2";
  const std::string list = ConsoleList({c}, shown);
  EXPECT_EQ(list.find('\x1b'), std::string::npos) << list;
  EXPECT_NE(list.find("486 \\x1b]0;owned\\x07; next try "), std::string::npos) << list;
  EXPECT_NE(list.find("        Room 4\\x1b[2J\n        floor \\xc2\\x9b2\n"), std::string::npos) << list;
}

}  // namespace
}  // namespace talmery
