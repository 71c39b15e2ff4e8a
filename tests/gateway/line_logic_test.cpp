// How a call's end is read, what the store records of it, our SIP contact and the log's lines.
#include <gtest/gtest.h>

#include "gateway/dispatcher.h"
#include "gateway/event_log.h"
#include "gateway/line.h"
#include "gateway/sip_engine.h"
#include "gateway/registration.h"
#include "gateway/try_outcome.h"

namespace talmery {
namespace {

// A try's end, typed from the SIP layer, becomes what the store records and people read: one
// place makes the words.
TEST(LineLogic, WhatTheStoreRecordsOfATry) {
  auto ended = [](Ending ending, bool answered = false, int status = 0, std::string detail = "", int error = 0,
                  Answerer who = Answerer::Deciding) {
    TryEnd t;
    t.answerer = who;
    t.ending = ending;
    t.answered = answered;
    t.status = status;
    t.detail = std::move(detail);
    t.error = error;
    t.seconds = 30;
    return t;
  };
  TryEnd unconfirmed = ended(Ending::CalleeHungUp, true);
  unconfirmed.unconfirmed = true;
  TryEnd keyless = ended(Ending::Played, true, 0, "", 0, Answerer::Person);
  keyless.unconfirmed = true;
  TryEnd afterTone = ended(Ending::LeftOnVoicemail, true, 0, "", 0, Answerer::Machine);
  afterTone.afterTone = true;
  TryEnd cutOnVoicemail = ended(Ending::LeftOnVoicemail, true, 0, "", 0, Answerer::Machine);
  cutOnVoicemail.note = "the message was cut to fit max_call_time (60 s)";
  const auto machine = [&](Ending ending) { return ended(ending, true, 0, "", 0, Answerer::Machine); };
  TryEnd cutByStop = ended(Ending::Stopped, true);  // confirm = yes: tried again after the restart
  cutByStop.unconfirmed = true;
  const struct {
    TryEnd end;
    int attempt;
    const char* state;
    const char* outcome;
    const char* reason;
  } cases[] = {
      {ended(Ending::SipStatus, false, 486, "Busy Here"), 1, "busy", "busy", "busy (486 Busy Here) on try 1 of 3"},
      {ended(Ending::SipStatus, false, 603, "Decline"), 3, "failed", "busy", "busy (603 Decline) on the last of 3 tries"},
      {ended(Ending::SipStatus, false, 480, ""), 1, "no answer", "no answer", "no answer (480) on try 1 of 3"},
      {ended(Ending::SipStatus, false, 503, "Service Unavailable"), 1, "temporary failure", "temporary failure",
       "temporary failure (503 Service Unavailable) on try 1 of 3"},
      {ended(Ending::SipStatus, false, 404, "Not Found"), 1, "failed", "failed", "404 Not Found"},
      {ended(Ending::SipStatus, false, 407, "Proxy Authentication Required"), 1, "failed", "failed",
       "407 Proxy Authentication Required"},
      {ended(Ending::SipStatus, false, 301, "Moved Permanently"), 1, "failed", "failed", "301 Moved Permanently"},
      {ended(Ending::RingTimeout), 3, "failed", "no answer", "no answer (no answer in 30 s) on the last of 3 tries"},
      {ended(Ending::NoResponse, false, 0, "", ETIMEDOUT), 1, "temporary failure", "temporary failure",
       "temporary failure (Connection timed out (no answer from the PBX)) on try 1 of 3"},
      {ended(Ending::Played, true), 2, "done", "answered", "answered; the message was played"},
      {ended(Ending::Played, true, 0, "", 0, Answerer::Person), 1, "done", "answered",
       "answered by a person; the message was played"},
      {ended(Ending::Played, true, 0, "", 0, Answerer::NotSure), 1, "done", "answered",
       "answered, not sure by whom; the message was played"},
      {afterTone, 1, "done", "answered", "answered by a machine; left on voicemail after the tone"},
      {cutOnVoicemail, 1, "done", "answered",
       "answered by a machine; left on voicemail after the greeting; the message was cut to fit max_call_time (60 s)"},
      {machine(Ending::VoicemailHungUp), 1, "failed", "answered",
       "answered by a machine; hung up without a message (voicemail = hang_up)"},
      {machine(Ending::VoicemailRetry), 1, "no answer", "no answer",
       "no answer (answered by a machine; hung up without a message (voicemail = retry)) on try 1 of 3"},
      {machine(Ending::VoicemailRetry), 3, "failed", "no answer",
       "no answer (answered by a machine; hung up without a message (voicemail = retry)) on the last of 3 tries"},
      {machine(Ending::MaxCallTime), 1, "done", "answered", "answered by a machine; hung up after 30 s"},
      {ended(Ending::CalleeHungUp, true), 1, "done", "answered", "answered; the callee hung up"},
      {ended(Ending::CalleeHungUp, true, 0, "", 0, Answerer::Person), 1, "done", "answered",
       "answered by a person; the callee hung up"},
      {ended(Ending::Confirmed, true), 1, "done", "answered", "answered; confirmed (key 1)"},
      {ended(Ending::Stopped, true), 1, "done", "answered", "answered; hung up: the gateway is stopping"},
      {ended(Ending::Stopped), 1, "failed", "failed", "the gateway stopped while dialling"},
      {unconfirmed, 1, "no answer", "no answer", "no answer (answered, not confirmed (the callee hung up)) on try 1 of 3"},
      {keyless, 3, "failed", "no answer", "no answer (answered by a person, not confirmed) on the last of 3 tries"},
      {cutByStop, 1, "no answer", "no answer",
       "no answer (answered, not confirmed (hung up: the gateway is stopping)) on try 1 of 3"},
      {ended(Ending::MediaUnreachable, false, 0, "0.0.0.0:4000"), 1, "temporary failure", "temporary failure",
       "temporary failure (the callee's media address 0.0.0.0:4000 cannot be reached) on try 1 of 3"},
      {ended(Ending::MediaUnreachable, true, 0, "127.0.0.1:4000", ENETUNREACH), 3, "failed", "temporary failure",
       "temporary failure (the message could not be sent to 127.0.0.1:4000: Network is unreachable) on the last of 3 tries"},
      {ended(Ending::RedirectToNumber, false, 302, "09******77"), 1, "failed", "failed",
       "302 redirect to the number 09******77, which may not be called"},
      {ended(Ending::RedirectToHost, false, 301, "evil.example"), 1, "failed", "failed",
       "301 redirect to evil.example, which is not the PBX"},
      {ended(Ending::TlsRefused, false, 0, "pbx: self-signed certificate"), 1, "failed", "failed",
       "TLS: the PBX's certificate does not verify for pbx: self-signed certificate"},
      {ended(Ending::NoUsableKey, false, 0, "none"), 1, "failed", "failed",
       "488 no usable SRTP key in the answer (a=crypto AES_CM_128_HMAC_SHA1_80): none"},
      {ended(Ending::SpeechFault, true, 0, "espeak-ng failed"), 1, "temporary failure", "temporary failure",
       "temporary failure (speech: espeak-ng failed) on try 1 of 3"},
      {ended(Ending::DialRefused, false, 0, "", EMFILE), 1, "temporary failure", "temporary failure",
       "temporary failure (dial refused: Too many open files) on try 1 of 3"},
  };
  const long long now = 1000000;
  for (const auto& c : cases) {
    TryEnd end = c.end;
    end.dialled = {"2001", "2002"};
    const AttemptEnd e = EndOfAttempt(end, c.attempt, 3, 60, now);
    EXPECT_EQ(e.state, c.state) << c.reason;
    EXPECT_EQ(e.outcome, c.outcome) << c.reason;
    EXPECT_EQ(e.reason, c.reason);
    EXPECT_EQ(e.nextMs.has_value(), e.state != "done" && e.state != "failed") << c.reason;
    EXPECT_EQ(e.dialled, "2001,2002");
    EXPECT_EQ(e.answerer, !end.answered                          ? ""
                          : end.answerer == Answerer::Person  ? "person"
                          : end.answerer == Answerer::Machine ? "machine"
                                                              : "not sure")
        << c.reason;
  }
}

// Key 2 puts the call off: not a try used up, due again after snooze_minutes, the snoozes
// counted in its words; offered only while snoozes are left and the call it asks for comes
// before the appointment begins.
TEST(LineLogic, ASnoozeComesAgainLaterAndNeverAfterTheAppointmentBegins) {
  TryEnd snoozed;
  snoozed.ending = Ending::Snoozed;
  snoozed.answered = true;
  snoozed.answerer = Answerer::Person;
  snoozed.seconds = 300;
  const long long now = 1000000;
  const AttemptEnd e = EndOfAttempt(snoozed, 3, 3, 60, now, 1, 2);
  EXPECT_EQ(e.state, "snoozed");
  EXPECT_EQ(e.outcome, "snoozed");
  EXPECT_EQ(e.reason, "answered by a person; to be called again in 5 minutes (key 2), snooze 2 of 2");
  ASSERT_TRUE(e.nextMs.has_value());
  EXPECT_EQ(*e.nextMs, now + 300000);  // even on the last try: snoozes are not tries
  EXPECT_EQ(ResultOf(snoozed), Result::Snoozed);

  Config c;
  c.maxCallTime = 60;
  c.snoozeMinutes = 5;
  c.snoozes = 2;
  const long long created = 10 * 60000;  // the request came at minute 10, its appointment 15 minutes on
  const struct {
    int used;
    long long nowMinute;
    bool allowed;
  } cases[] = {{0, 10, true}, {1, 10, true}, {2, 10, false}, {0, 19, true}, {0, 20, false}, {0, 25, false}};
  for (const auto& k : cases)
    EXPECT_EQ(SnoozeAllowed(c, k.used, created, 15, k.nowMinute * 60000), k.allowed) << k.used << " " << k.nowMinute;
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
// start, another for another address or port; a node of a shared store puts its name in it, so
// that the nodes registering one account at the PBX each keep a contact of their own.
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
  const std::string gw1 = ContactUser(s, "gw1"), gw2 = ContactUser(s, "gw2");
  EXPECT_EQ(gw1.size(), 3u + 1 + 3 + 1 + 8);
  EXPECT_EQ(gw1.compare(0, 8, "200-gw1-"), 0) << gw1;
  EXPECT_EQ(gw2.compare(0, 8, "200-gw2-"), 0) << gw2;
  EXPECT_NE(gw1.substr(8), gw2.substr(8)) << "nodes on one machine and port differ in the digest too";
  EXPECT_EQ(ContactUser(s, "gw1"), gw1);
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

// The SIP status the metrics count a try under, from its typed end.
TEST(LineLogic, TheSipStatusOfATry) {
  auto ended = [](Ending ending, bool answered, int status) {
    TryEnd t;
    t.ending = ending;
    t.answered = answered;
    t.status = status;
    return t;
  };
  const struct {
    TryEnd end;
    int status;
  } cases[] = {
      {ended(Ending::Played, true, 0), 200},           {ended(Ending::CalleeHungUp, true, 0), 200},
      {ended(Ending::SipStatus, false, 486), 486},     {ended(Ending::SipStatus, false, 503), 503},
      {ended(Ending::RedirectToHost, false, 302), 302}, {ended(Ending::NoUsableKey, false, 0), 488},
      {ended(Ending::RingTimeout, false, 0), 0},       {ended(Ending::TlsFailed, false, 0), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(SipStatusOf(c.end), c.status) << DescribeEnd(c.end);
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

}  // namespace
}  // namespace talmery
