// How a call's end is read, what the store records of it, our SIP contact and the log's lines.
#include <gtest/gtest.h>

#include "gateway/dispatcher.h"
#include "gateway/event_log.h"
#include "gateway/line.h"
#include "gateway/sip_engine.h"
#include "gateway/registration.h"

namespace talmery {
namespace {

TEST(LineLogic, CloseReasons) {
  const struct {
    const char* reason;
    bool answered;
    Result result;
    const char* detail;  // when it differs from the reason
  } cases[] = {
      {"end of file", true, Result::Delivered, nullptr},
      {"Connection reset by peer", true, Result::Delivered, nullptr},
      {"486 Busy Here", false, Result::Busy, nullptr},
      {"486 Rejected", false, Result::Busy, nullptr},
      {"600 Busy Everywhere", false, Result::Busy, nullptr},
      {"603 Decline", false, Result::Busy, nullptr},
      {"480 Temporarily Unavailable", false, Result::NoAnswer, nullptr},
      {"408 Request Timeout", false, Result::NoAnswer, nullptr},
      {"503 Service Unavailable", false, Result::Transient, nullptr},
      {"500 Server Internal Error", false, Result::Transient, nullptr},
      {"504 Server Time-out", false, Result::Transient, nullptr},
      {"Connection timed out", false, Result::Transient, "Connection timed out (no answer from the PBX)"},
      {"Connection refused", false, Result::Transient, "Connection refused (no answer from the PBX)"},
      {"404 Not Found", false, Result::Failed, nullptr},
      {"403 Forbidden", false, Result::Failed, nullptr},
      {"484 Address Incomplete", false, Result::Failed, nullptr},
      {"604 Does Not Exist Anywhere", false, Result::Failed, nullptr},
      {"407 Proxy Authentication Required", false, Result::Failed, nullptr},
      {"501 Not Implemented", false, Result::Failed, nullptr},
      {"4860 odd", false, Result::Failed, nullptr},
      {"", false, Result::Failed, nullptr},
  };
  for (const auto& c : cases) {
    const Outcome o = ClassifyClosed(c.reason, c.answered);
    EXPECT_EQ(o.result, c.result) << c.reason;
    EXPECT_EQ(o.detail, c.detail ? c.detail : c.reason);
  }
}

TEST(LineLogic, WhatTheStoreRecordsOfAnAttempt) {
  const long long now = 1000000;
  AttemptEnd e = EndOfAttempt({Result::Busy, false, "486 Busy Here"}, 1, 3, 60, now);
  EXPECT_EQ(e.state, "busy");
  EXPECT_EQ(e.outcome, "busy");
  EXPECT_EQ(e.reason, "busy (486 Busy Here) on try 1 of 3");
  EXPECT_EQ(e.nextMs, now + 60000);

  e = EndOfAttempt({Result::NoAnswer, false, "no answer in 30 s"}, 3, 3, 60, now);
  EXPECT_EQ(e.state, "failed");
  EXPECT_EQ(e.outcome, "no answer");
  EXPECT_EQ(e.reason, "no answer (no answer in 30 s) on the last of 3 tries");
  EXPECT_FALSE(e.nextMs);

  e = EndOfAttempt({Result::Delivered, true, "end of file"}, 2, 3, 60, now);
  EXPECT_EQ(e.state, "done");
  EXPECT_EQ(e.reason, "answered; the message was played");
  EXPECT_EQ(EndOfAttempt({Result::Delivered, true, "Connection reset by peer"}, 1, 1, 0, now).reason,
            "answered; the callee hung up");

  e = EndOfAttempt({Result::Transient, false, "503 Service Unavailable"}, 1, 3, 60, now);
  EXPECT_EQ(e.state, "temporary failure");
  EXPECT_EQ(e.outcome, "temporary failure");
  EXPECT_EQ(e.reason, "temporary failure (503 Service Unavailable) on try 1 of 3");
  EXPECT_EQ(e.nextMs, now + 60000);
  e = EndOfAttempt({Result::Transient, true, "speech: espeak-ng failed"}, 2, 2, 60, now);
  EXPECT_EQ(e.state, "failed");
  EXPECT_EQ(e.reason, "temporary failure (speech: espeak-ng failed) on the last of 2 tries");

  e = EndOfAttempt({Result::Failed, false, "404 Not Found"}, 1, 3, 60, now);
  EXPECT_EQ(e.state, "failed");  // not retried: the number is wrong, not busy
  EXPECT_EQ(e.reason, "404 Not Found");
}

TEST(LineLogic, LateCallsSayHowLate) {
  EXPECT_EQ(LateNotice(0), "");
  EXPECT_EQ(LateNotice(120000), "");
  EXPECT_EQ(LateNotice(120001), "This reminder is 2 minutes late. ");
  EXPECT_EQ(LateNotice(20 * 60000 + 59999), "This reminder is 20 minutes late. ");
}

TEST(LineLogic, RefusedRegistrationsWaitLongerEachTime) {
  const int cases[][3] = {{1, 60, 60}, {2, 60, 120}, {5, 60, 960}, {6, 60, 1800}, {40, 60, 1800}, {3, 1, 4}, {1, 1800, 1800}};
  for (const auto& c : cases) EXPECT_EQ(RegistrationPause(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

// The Contact's user: our user and a digest of what identifies this gateway, the same at every
// start, another for another address or port.
TEST(LineLogic, ContactUserIsStableAndTellsGatewaysApart) {
  SipSettings s;
  s.user = "200";
  s.domain = "pbx.example.com";
  s.localAddress = "192.0.2.10";
  const std::string contact = ContactUser(s);
  EXPECT_EQ(contact.size(), 3u + 1 + 8);
  EXPECT_EQ(contact.compare(0, 4, "200-"), 0) << contact;
  EXPECT_EQ(ContactUser(s), contact);
  for (auto change : {+[](SipSettings& x) { x.localAddress = "192.0.2.11"; }, +[](SipSettings& x) { x.sipPort = 5070; },
                      +[](SipSettings& x) { x.domain = "pbx2.example.com"; }}) {
    SipSettings other = s;
    change(other);
    EXPECT_NE(ContactUser(other), contact);
  }
  s.password = "another";  // the password is no part of it
  EXPECT_EQ(ContactUser(s), contact);
  EXPECT_EQ(AccountAor(s), "sip:200@pbx.example.com");
  EXPECT_EQ(AccountAor(SipSettings()), "sip:talmery@127.0.0.1");
}

// The proxy's URI parameters stay in the route; its ";lr" goes, since libre adds one itself.
TEST(LineLogic, RouteOfTheOutboundProxy) {
  const struct {
    const char* proxy;
    const char* route;
  } cases[] = {{"sip:pbx.example.com", "sip:pbx.example.com"},
               {"sip:10.0.0.1:5070;transport=tcp;lr", "sip:10.0.0.1:5070;transport=tcp"},
               {"sip:pbx;lr;transport=udp", "sip:pbx;transport=udp"},
               {"sip:pbx;lr=on", "sip:pbx"},
               {"sip:pbx;lrx=1;maddr=10.0.0.2", "sip:pbx;lrx=1;maddr=10.0.0.2"},
               {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(RouteOf(c.proxy), c.route) << c.proxy;
}

// The key of a SIP INFO, as PBXs and phones send it.
TEST(LineLogic, KeysOfSipInfo) {
  const struct {
    const char* type;
    const char* body;
    char key;
  } cases[] = {{"application/dtmf-relay", "Signal=1\r\nDuration=160\r\n", '1'},
               {"Application/DTMF-Relay", "signal = 1\nDuration=250", '1'},
               {"application/dtmf-relay", "Duration=160\r\nSignal=#\r\n", '#'},
               {"application/dtmf-relay", "Signal=11\r\n", 0},
               {"application/dtmf-relay", "Duration=160\r\n", 0},
               {"application/dtmf-relay", "Signal=x\r\n", 0},
               {"application/dtmf", "1", '1'},
               {"application/dtmf; charset=us-ascii", " 5\r\n", '5'},
               {"application/dtmf", "12", 0},
               {"text/plain", "Signal=1", 0},
               {"application/dtmf-relay", "", 0}};
  for (const auto& c : cases) EXPECT_EQ(InfoKey(c.type, c.body), c.key) << c.type << " " << c.body;
}

TEST(LineLogic, LogLinesQuoteAndRedact) {
  EXPECT_EQ(FormatLogLine("T", "state", {{"call", "1"}, {"reason", "no answer \"x\"\n"}, {"empty", ""}}),
            "time=T event=state call=1 reason=\"no answer \\\"x\\\"\\n\" empty=\"\"");
  // No control byte reaches the log: ESC, C1 CSI (as UTF-8 and as a stray byte), DEL; UTF-8 text
  // stays readable.
  EXPECT_EQ(FormatLogLine("T", "refused", {{"reason", "a\x1b[2Jb\xC2\x9B" "c\x9B\x7f caf\xC3\xA9"}}),
            "time=T event=refused reason=\"a\\x1b[2Jb\\xc2\\x9bc\\x9b\\x7f caf\xC3\xA9\"");
  EXPECT_EQ(VisibleText("line 1\n\tline 2\x07", true), "line 1\n\tline 2\\x07");
  EXPECT_EQ(Redact("pass=abc;x=abcabc", {"abc"}), "pass=***;x=******");
  EXPECT_EQ(UtcStamp(1700000000123), "2023-11-14T22:13:20.123Z");
}

// Refusals of one kind: the first at once, then one summary per interval while they go on; a
// kind that went quiet is forgotten; the kinds held per address are bounded.
TEST(LineLogic, RefusalsAreToldOncePerKindAndInterval) {
  RefusalDigest d(60000);
  EXPECT_TRUE(d.Note("192.0.2.1", "the text is empty", 0));
  EXPECT_TRUE(d.Note("192.0.2.2", "the text is empty", 10));
  for (int i = 0; i < 500; ++i) EXPECT_FALSE(d.Note("192.0.2.1", "the text is empty", 20 + i));
  EXPECT_TRUE(d.Due(59999).empty());
  std::vector<RefusalDigest::Summary> due = d.Due(60000);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].address, "192.0.2.1");
  EXPECT_EQ(due[0].repeated, 500);
  EXPECT_FALSE(d.Note("192.0.2.1", "the text is empty", 61000));      // within the next interval
  EXPECT_EQ(d.Due(119999, true).size(), 1u);                          // at a stop, at once
  EXPECT_TRUE(d.Due(180000).empty());                                 // quiet: forgotten
  EXPECT_TRUE(d.Note("192.0.2.1", "the text is empty", 180001));

  for (size_t i = 0; i < RefusalDigest::kMaxReasons + 5; ++i)
    EXPECT_EQ(d.Note("198.51.100.7", "reason " + std::to_string(i), 0), i <= RefusalDigest::kMaxReasons) << i;
  due = d.Due(60000);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].reason, RefusalDigest::kOtherReasons);
  EXPECT_EQ(due[0].repeated, 4);
}

// The message fits max_call_time, less the time for the key with confirm = yes; what did not fit
// is said in the outcome.
TEST(LineLogic, MessageFitsTheCall) {
  Config c;
  c.maxCallTime = 600;
  c.repeat = 2;
  MessagePlan p = PlanMessage("Budget review.", c);
  EXPECT_EQ(p.text, "Budget review.");
  EXPECT_EQ(p.prompt, "");
  EXPECT_EQ(p.budgetSamples, 599u * 8000);
  c.confirm = true;
  p = PlanMessage("Budget review.", c);
  EXPECT_EQ(p.text, std::string("Budget review. ") + kConfirmPrompt);
  EXPECT_EQ(p.prompt, kConfirmPrompt);
  EXPECT_EQ(p.budgetSamples, 594u * 8000);
  EXPECT_EQ(ShortenedNote(false, 2, c), "");
  EXPECT_EQ(ShortenedNote(true, 0, c), "the message was cut to fit max_call_time (600 s)");
  EXPECT_EQ(ShortenedNote(false, 1, c), "the message was said 1 of 2 times to fit max_call_time (600 s)");
}

}  // namespace
}  // namespace talmery
