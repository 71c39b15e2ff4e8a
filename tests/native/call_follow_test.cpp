#include "agent/calls/call_follow.h"

#include <gtest/gtest.h>

#include <string>

#include "agent/calls/ole_date.h"

namespace {

// A call's JSON as the gateway writes it (every field it has, pretty-printed).
std::string CallJson(const std::string& state, bool final, const std::string& reason, const std::string& tries,
                     int attempts = 1) {
  return "{\n  \"ask_again_seconds\": " + std::string(final ? "0" : "60") +
         ",\n  \"attempts\": " + std::to_string(attempts) + ",\n  \"final\": " + (final ? "true" : "false") +
         ",\n  \"firstocc\": 15,\n  \"follow_seconds\": " + (final ? "0" : "4349") +
         ",\n  \"follow_until\": \"2026-12-11T12:00:00.000Z\",\n  \"history\": [" + tries +
         "],\n  \"id\": 12,\n  \"max_attempts\": 3,\n  \"next_attempt\": null,\n  \"node\": \"gw1\",\n  \"number\": "
         "\"55***00\",\n  \"reason\": \"" + reason + "\",\n  \"received\": \"2026-12-11T10:00:00.000Z\",\n  "
         "\"selfdelete\": true,\n  \"state\": \"" + state + "\",\n  \"text_removed\": true,\n  \"updated\": "
         "\"2026-12-11T10:00:05.000Z\"\n}\n";
}

std::string Try(const std::string& outcome, const std::string& detail) {
  return "{\"attempt\": 1, \"line\": 0, \"node\": \"gw1\", \"started\": \"2026-12-11T10:00:00.000Z\", \"answered\": "
         "null, \"ended\": \"2026-12-11T10:00:30.000Z\", \"outcome\": \"" + outcome + "\", \"detail\": \"" + detail +
         "\", \"dialled\": [\"5550100\"]}";
}

TEST(ReadCallState, TakesTheGatewaysFields) {
  CallState call;
  ASSERT_EQ(ReadCallState(200, CallJson("busy", false, "busy (486 Busy Here) on try 1 of 3", Try("busy", "486 Busy Here")),
                          call),
            CallStateRead::State);
  EXPECT_EQ(call.state, "busy");
  EXPECT_FALSE(call.final);
  EXPECT_EQ(call.attempts, 1);
  EXPECT_EQ(call.maxAttempts, 3);
  EXPECT_EQ(call.askAgainSeconds, 60);
  EXPECT_EQ(call.followSeconds, 4349);
  EXPECT_EQ(call.reason, "busy (486 Busy Here) on try 1 of 3");
  ASSERT_EQ(call.tries.size(), 1u);
  EXPECT_EQ(call.tries[0].outcome, "busy");
  EXPECT_EQ(call.tries[0].detail, "486 Busy Here");
}

// What is no call's JSON of a gateway that gives them (404: unknown or not ours; an earlier
// gateway's JSON without "final"; a stand-in's text) ends the following.
TEST(ReadCallState, AnythingButACallsJsonStopsTheFollowing) {
  const struct {
    int status;
    std::string body;
  } cases[] = {
      {404, "{\"error\": \"no such call\"}\n"},
      {500, CallJson("done", true, "answered", "")},
      {200, "[12]\r\n"},
      {200, "OK"},
      {200, ""},
      {200, "{\"id\": 12, \"state\": \"done\"}"},                  // an earlier gateway: no "final"
      {200, "{\"state\": \"done\", \"final\": \"yes\"}"},
      {200, "{\"state\": 3, \"final\": true}"},
      {200, "{\"state\": \"\", \"final\": true}"},
      {200, "[{\"state\": \"done\", \"final\": true}]"},
      {200, CallJson("done", true, "answered", "").substr(10)},  // cut short
  };
  for (const auto& c : cases) {
    CallState call;
    call.state = "untouched";
    EXPECT_EQ(ReadCallState(c.status, c.body, call), CallStateRead::Stop) << c.status << " " << c.body;
    EXPECT_EQ(call.state, "untouched");
  }
}

// Each final state in the gateway's words becomes the user's; a delivered call says nothing.
TEST(UndeliveredWords, SaysWhyInPlainWords) {
  const struct {
    std::string json;
    std::string words;
  } cases[] = {
      {CallJson("failed", true, "no answer (no answer in 30 s) on the last of 3 tries", Try("no answer", "no answer in 30 s"), 3),
       "not answered after 3 tries"},
      {CallJson("failed", true, "no answer (480 Temporarily Unavailable) on the last of 1 try",
                Try("no answer", "480 Temporarily Unavailable"), 1),
       "not answered after 1 try"},
      {CallJson("failed", true, "no answer (answered, not confirmed) on the last of 3 tries",
                Try("no answer", "answered, not confirmed"), 3),
       "answered but not confirmed after 3 tries"},
      {CallJson("failed", true, "busy (486 Busy Here) on the last of 3 tries", Try("busy", "486 Busy Here"), 3), "busy"},
      {CallJson("failed", true, "404 Not Found", Try("failed", "404 Not Found")),
       "the telephone system refused it: 404 Not Found"},
      {CallJson("failed", true, "302 redirect to the number 900123, which may not be called",
                Try("failed", "302 redirect to the number 900123, which may not be called")),
       "the number may not be called from this gateway"},
      {CallJson("failed", true, "temporary failure (503 Service Unavailable) on the last of 3 tries",
                Try("temporary failure", "503 Service Unavailable"), 3),
       "the telephone system could not take it: 503 Service Unavailable"},
      {CallJson("failed", true, "the gateway stopped while dialling; not dialled again, the phone may have rung",
                Try("interrupted", "gateway stopped")),
       "the gateway stopped while dialling it; the phone may have rung"},
      {CallJson("failed", true, "TLS: the PBX's certificate does not verify for pbx",
                Try("failed", "TLS: the PBX's certificate does not verify for pbx")),
       "it could not be placed: TLS: the PBX's certificate does not verify for pbx"},
      {CallJson("expired", true, "not placed: waited more than 60 minutes", "", 0), "the gateway could not place it in time"},
      {CallJson("done", true, "answered by a machine; left on voicemail after the tone",
                Try("answered", "left on voicemail after the tone")),
       "it was left on voicemail"},
      {CallJson("failed", true, "answered by a machine; hung up without a message (voicemail = hang_up)",
                Try("failed", "answered by a machine; hung up without a message (voicemail = hang_up)")),
       "a voicemail answered and no message was left"},
      {CallJson("failed", true,
                "no answer (answered by a machine; hung up without a message (voicemail = retry)) on the last of 3 tries",
                Try("no answer", "answered by a machine; hung up without a message (voicemail = retry)"), 3),
       "a voicemail answered and no message was left (3 tries)"},
      {CallJson("done", true, "answered; the message was played", Try("answered", "the message was played")), ""},
      {CallJson("done", true, "answered by a person; confirmed (key 1)", Try("answered", "confirmed (key 1)")), ""},
      {CallJson("done", true, "answered; the gateway stopped during the message", Try("interrupted", "gateway stopped")), ""},
      {CallJson("busy", false, "busy (486 Busy Here) on try 1 of 3", Try("busy", "486 Busy Here")), ""},
      {CallJson("queued", false, "", ""), ""},
  };
  for (const auto& c : cases) {
    CallState call;
    ASSERT_EQ(ReadCallState(200, c.json, call), CallStateRead::State) << c.json;
    EXPECT_EQ(UndeliveredWords(call), c.words) << c.json;
  }
}

TEST(UndeliveredNotice, NamesTheReminderTheNumberAndWhy) {
  EXPECT_EQ(UndeliveredNotice("Budget review", "2026-12-11 14:30", "5550100", "busy"),
            "The reminder call did not reach you.\r\nAppointment: Budget review, 2026-12-11 14:30\r\nNumber: "
            "5550100\r\nWhy: busy.");
  EXPECT_EQ(UndeliveredNotice("", "", "+442079460018", "it was left on voicemail"),
            "The reminder call did not reach you.\r\nAppointment: (no subject)\r\nNumber: +442079460018\r\nWhy: it was "
            "left on voicemail.");
}

TEST(StartText, DateAndMinuteOfTheStart) {
  EXPECT_EQ(StartText(*OleDateFromFields(2026, 12, 11, 14, 30, 59)), "2026-12-11 14:30");
  EXPECT_EQ(StartText(*OleDateFromFields(2000, 2, 29, 0, 0, 0)), "2000-02-29 00:00");
  EXPECT_EQ(StartText(*OleDateFromFields(1899, 12, 29, 6, 5, 0)), "1899-12-29 06:05");
  EXPECT_EQ(StartText(0), "1899-12-30 00:00");
}

}  // namespace

namespace {

FollowedCall Followed() {
  FollowedCall call;
  call.host = "gw.example";
  call.port = 8155;
  call.requestId = "12";
  call.token = "00112233445566778899aabbccddeeff";
  call.subject = "Budget review";
  call.start = "2026-12-11 14:30";
  call.number = "5550100";
  call.nextMs = 1000;
  call.untilMs = 1000 + kFollowUnheardSeconds * 1000;
  return call;
}

// The pace: the gateway's time of its next event, else every half minute, never past the time the
// gateway gave (one last question at its end); a final state ends it, told only when undelivered.
TEST(NextFollowStep, AsksAtTheGatewaysPaceUntilTheEnd) {
  const long long now = 100000;
  const struct {
    const char* name;
    bool reached;
    int status;
    std::string body;
    bool done;
    bool told;
    long long nextMs, untilMs;
    const char* outcome;
  } cases[] = {
      {"retry in a minute", true, 200, CallJson("busy", false, "busy", Try("busy", "486 Busy Here")), false, false,
       now + 60000, now + 4349000, "busy"},
      {"the gateway says nothing of the pace", true, 200,
       "{\"state\": \"queued\", \"final\": false, \"history\": []}", false, false, now + 30000,
       1000 + kFollowUnheardSeconds * 1000, "queued"},
      {"not reached", false, 0, "", false, false, now + 30000, 1000 + kFollowUnheardSeconds * 1000,
       "the gateway cannot be reached"},
      {"delivered", true, 200, CallJson("done", true, "answered; the message was played", Try("answered", "x")), true,
       false, 1000, 1000 + kFollowUnheardSeconds * 1000, "delivered"},
      {"busy to the end", true, 200, CallJson("failed", true, "busy", Try("busy", "486 Busy Here"), 3), true, true, 1000,
       1000 + kFollowUnheardSeconds * 1000, "busy"},
      {"not ours, or unknown", true, 404, "{\"error\": \"no such call\"}\n", true, false, 1000,
       1000 + kFollowUnheardSeconds * 1000, "not known"},
      {"an older gateway", true, 200, "[12]\r\n", true, false, 1000, 1000 + kFollowUnheardSeconds * 1000, "not known"},
  };
  for (const auto& c : cases) {
    FollowedCall call = Followed();
    const FollowStep step = NextFollowStep(call, c.reached, c.status, c.body, now);
    EXPECT_EQ(step.done, c.done) << c.name;
    EXPECT_EQ(!step.tell.empty(), c.told) << c.name;
    EXPECT_EQ(call.nextMs, c.nextMs) << c.name;
    EXPECT_EQ(call.untilMs, c.untilMs) << c.name;
    EXPECT_EQ(step.outcome, c.outcome) << c.name;
  }
  FollowedCall call = Followed();
  EXPECT_EQ(NextFollowStep(call, true, 200, CallJson("failed", true, "busy", Try("busy", "486 Busy Here"), 3), now).tell,
            "The reminder call did not reach you.\r\nAppointment: Budget review, 2026-12-11 14:30\r\nNumber: "
            "5550100\r\nWhy: busy.");
  // Left on a mailbox: told, unless the user's voicemailnotice says not; listed either way.
  const std::string mailbox = CallJson("done", true, "answered by a machine; left on voicemail after the tone",
                                       Try("answered", "left on voicemail after the tone"));
  for (const bool tell : {true, false}) {
    call = Followed();
    const FollowStep step = NextFollowStep(call, true, 200, mailbox, now, tell);
    EXPECT_TRUE(step.done);
    EXPECT_EQ(step.tell.empty(), !tell);
    EXPECT_EQ(step.outcome, "it was left on voicemail");
  }
  call = Followed();
  call.untilMs = now + 10000;
  EXPECT_FALSE(NextFollowStep(call, false, 0, "", now).done);
  EXPECT_EQ(call.nextMs, now + 10000) << "one last question at the end of the time";
  EXPECT_TRUE(NextFollowStep(call, false, 0, "", now + 10000).done);
}

TEST(FollowedCallText, RoundTripsAndRefusesWhatIsNoFollowedCall) {
  FollowedCall call = Followed();
  call.subject = "Budget\treview\r\nroom 4";
  FollowedCall read;
  ASSERT_TRUE(ParseFollowedCall(FollowedCallText(call), read));
  EXPECT_EQ(read.host, call.host);
  EXPECT_EQ(read.port, call.port);
  EXPECT_EQ(read.requestId, call.requestId);
  EXPECT_EQ(read.token, call.token);
  EXPECT_EQ(read.nextMs, call.nextMs);
  EXPECT_EQ(read.untilMs, call.untilMs);
  EXPECT_EQ(read.number, call.number);
  EXPECT_EQ(read.start, call.start);
  EXPECT_EQ(read.subject, "Budget review  room 4");
  const std::string good = FollowedCallText(Followed());
  for (const std::string& bad : {std::string(), std::string("x"), "2" + good.substr(1), good.substr(0, good.rfind('\t')),
                                std::string("1\tgw\t99999\t12\tt\t1\t2\tn\ts\tsub"),
                                std::string("1\t\t8155\t12\tt\t1\t2\tn\ts\tsub"),
                                std::string("1\tgw\t8155\t12\tt\t-1\t2\tn\ts\tsub")})
    EXPECT_FALSE(ParseFollowedCall(bad, read)) << bad;
}

}  // namespace

namespace {

TEST(ComposeRecentCallsText, ListsTheSessionsCallsBelowTheSettings) {
  EXPECT_EQ(ComposeRecentCallsText({}), "");
  EXPECT_EQ(ComposeRecentCallsText({{"2026-12-11 14:30", "Dentist", "5550186", "busy", 1},
                                    {"2026-12-11 15:00", "", "5550100", "delivered", 2}}),
            "\r\n\r\nReminder calls of this session:\r\n    2026-12-11 14:30  Dentist, 5550186: busy\r\n"
            "    2026-12-11 15:00  (no subject), 5550100: delivered");
  RecentCall read;
  ASSERT_TRUE(ParseRecentCall(RecentCallText({"2026-12-11 14:30", "Tab\there", "5550186", "busy", 42}), read));
  EXPECT_EQ(read.start, "2026-12-11 14:30");
  EXPECT_EQ(read.subject, "Tab here");
  EXPECT_EQ(read.number, "5550186");
  EXPECT_EQ(read.outcome, "busy");
  EXPECT_EQ(read.noticedMs, 42);
  for (const std::string& bad : {std::string(), std::string("1\tx\ta\tb\tc\td"), std::string("2\t1\ta\tb\tc\td"),
                                 std::string("1\t1\ta\tb")})
    EXPECT_FALSE(ParseRecentCall(bad, read)) << bad;
}

}  // namespace
