// What the callee does decides the call: its keys (1 confirms, as an RFC 4733 event or a SIP
// INFO; star repeats; 2 snoozes while it may), its hanging up, and who answered (a person's word,
// a mailbox's greeting and tone), with the libre callee as a process of its own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "gateway/line.h"
#include "gateway/message_plan.h"
#include "tests/gateway/sip_call_fixtures.h"

namespace gwtest {
namespace {

using SipConfirm = LibreCalleeTest;
using SipHangUp = LibreCalleeTest;
using SipListen = LibreCalleeTest;
using SipKeys = LibreCalleeTest;

// With confirm = yes the message ends with the prompt to press 1; the key, as an RFC 4733 event
// or as a SIP INFO, ends the call as delivered. Another key, or none, is not a confirmation: the
// call is tried again, and fails after its attempts.
TEST_F(SipConfirm, KeyOneConfirmsAsEventOrInfoOtherwiseTheCallIsTriedAgain) {
  ASSERT_TRUE(StartCallee());
  const TempDir& dir = dir_;
  talmery::Config c = DiallingTheCallee(base_, dir.path());
  c.maxCalls = 2;
  c.attempts = 2;
  c.confirm = true;
  c.snoozes = 0;  // 2 is then a key the call does not take
  ASSERT_TRUE(StartGateway(c));
  // (The callee's 5550101 and 5550102 press 1 as an event and as an INFO, 5550103 presses 2 as
  // an event, 5550100 nothing.)
  struct {
    const char* name;
    const char* number;
    const char* text;
    const char* state;
    const char* reason;
    int attempts;
    long long id = 0;
  } calls[] = {
      {"key 1 as an event", "5550101", "Board meeting.", "done", "answered by a person; confirmed (key 1)", 1},
      {"key 1 as an INFO", "5550102", "Board meeting.", "done", "answered by a person; confirmed (key 1)", 1},
      {"no key", "5550100", "Lunch with the auditors.", "failed",
       "no answer (answered by a person, not confirmed) on the last of 2 tries", 2},
      {"key 2, not taken", "5550103", "Board meeting.", "failed",
       "no answer (answered by a person, not confirmed) on the last of 2 tries", 2},
  };
  for (auto& call : calls) call.id = Post(call.number, call.text);
  // Key 1 forged from another socket into the calls' RTP ports confirms nothing.
  ASSERT_EQ(WaitForState(Port(), calls[2].id, "answered", 30000)["state"], "answered");
  const int forger = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int forged = 0;
  for (int round = 0; round < 20; ++round) {
    for (int port : SocketsOfThisProcess().udp) {
      if (port < c.sip.rtpPortFirst || port > c.sip.rtpPortLast) continue;
      const unsigned char event[] = {0x80, 101, 0, static_cast<unsigned char>(round), 0, 1, 0, 0, 0x12, 0x34, 0x56, 0x78,
                                     1, 0x8a, 0x01, 0x40};
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(static_cast<uint16_t>(port));
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (sendto(forger, event, sizeof event, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) ++forged;
    }
    usleep(100000);
  }
  close(forger);
  EXPECT_GT(forged, 20);
  for (const auto& call : calls) {
    SCOPED_TRACE(call.name);
    const nlohmann::json end = WaitForState(Port(), call.id, call.state, 90000);
    EXPECT_EQ(end["state"], call.state) << end.dump(1);
    EXPECT_EQ(end["reason"], call.reason) << end.dump(1);
    EXPECT_EQ(end["attempts"], call.attempts);
  }
  // The unconfirmed calls heard the whole message: the text twice, then the prompt.
  talmery::Pcm speech;
  std::string error;
  ASSERT_TRUE(talmery::Synthesize("Lunch with the auditors.", talmery::Voice(), speech, error)) << error;
  int carrying = 0;
  std::string reports;
  // Six calls in all reached the callee; the last recording is written as its call closes.
  WaitUntil([&] { return std::filesystem::exists(dir.path() + "/call-6.wav"); }, 5000);
  for (int n = 1; n <= 6; ++n) {
    talmery::Pcm recording;
    std::string report;
    if (!talmery::ReadWavFile(dir.path() + "/call-" + std::to_string(n) + ".wav", recording, error)) continue;
    if (phone::RecordingCarries(recording, speech, 2, report)) ++carrying;
    reports += report;
  }
  EXPECT_EQ(carrying, 2) << reports;
}

// A callee who hangs up while the message plays (its BYE, which libre reports as ECONNRESET)
// answered the call: it ends done after one try, not failed.
TEST_F(SipHangUp, ACalleeWhoHangsUpAnsweredTheCall) {
  ASSERT_TRUE(StartCallee());
  talmery::Config c = DiallingTheCallee(base_, dir_.path());
  c.attempts = 3;
  ASSERT_TRUE(StartGateway(c));
  const long long id = Post("5550106", "The quarterly budget review with the auditors begins soon, "
                                       "in the large meeting room on the fourth floor.");
  const nlohmann::json done = WaitForState(Port(), id, "done", 30000);
  EXPECT_EQ(done["state"], "done") << done.dump(1);
  EXPECT_EQ(done["reason"], "answered; the callee hung up") << done.dump(1);
  EXPECT_EQ(done["attempts"], 1);
  EXPECT_FALSE(done["history"][0]["answered"].is_null());
}

// Who answered decides when the message begins and what it is: a person who says "Hello?" hears
// it after their word (the line silent while they spoke), as planned (twice, then the prompt); a
// mailbox gets it once, whole, after its tone, or after its greeting when it has none; a person
// who hangs up answered. Each outcome says who answered.
TEST_F(SipListen, TheMessageWaitsForWhoeverAnsweredAndAMailboxGetsItOnce) {
  Greetings& callee = greetings_;
  const size_t hello = callee.Say("5550201", "Hello?");
  const size_t toned = callee.Say("5550202", kMailbox, 500);
  const size_t greeting = callee.Say("5550203", kMailbox);
  callee.Say("5550204", "Hello?");
  callee.Press("5550204", "2500 bye\n");
  ASSERT_TRUE(StartCallee());
  talmery::Config c = DiallingTheCallee(base_, dir_.path());
  c.maxCalls = 4;
  ASSERT_TRUE(StartGateway(c));
  const std::string text = "The budget review is in room four.";
  struct {
    const char* name;
    const char* number;
    const char* reason;
    const char* answerer;
    long long id = 0;
  } calls[] = {{"a person's word", "5550201", "answered by a person; the message was played", "person"},
               {"a mailbox with a tone", "5550202", "answered by a machine; left on voicemail after the tone", "machine"},
               {"a mailbox without one", "5550203", "answered by a machine; left on voicemail after the greeting",
                "machine"},
               {"a person who hangs up", "5550204", "answered by a person; the callee hung up", "person"}};
  for (auto& call : calls) call.id = Post(call.number, text);
  for (const auto& call : calls) {
    SCOPED_TRACE(call.name);
    const nlohmann::json done = WaitForState(Port(), call.id, "done", 60000);
    EXPECT_EQ(done["reason"], call.reason) << done.dump(1);
    EXPECT_EQ(done["answerer"], call.answerer) << call.number;
    EXPECT_EQ(done["history"][0]["answerer"], call.answerer) << call.number;
    EXPECT_EQ(done["attempts"], 1);
  }
  const talmery::Pcm speech = SpeechOf(text);
  const talmery::Pcm prompt = SpeechOf(talmery::KeysPrompt(c, false));
  std::string report;
  // The person: nothing while they spoke, then the message twice and the prompt.
  talmery::Pcm heard = callee.Heard("5550201");
  EXPECT_LT(PeakOf(heard, 0, hello), 64) << "the line spoke over the callee's word";
  EXPECT_GT(StartOf(heard, speech), static_cast<long>(hello));
  std::printf("person: the word ended at %.2f s, the message began at %.2f s\n", hello / 8000.0,
              StartOf(heard, speech) / 8000.0);
  EXPECT_TRUE(phone::RecordingCarries(heard, speech, 2, report)) << report;
  EXPECT_TRUE(phone::RecordingCarries(heard, prompt, 1, report)) << report;
  // The mailboxes: silence through the greeting (and the tone), then the message once, no prompt.
  for (const auto& [number, quiet] : {std::pair<const char*, size_t>{"5550202", toned}, {"5550203", greeting}}) {
    SCOPED_TRACE(number);
    heard = callee.Heard(number);
    EXPECT_LT(PeakOf(heard, 0, quiet), 64) << number;
    EXPECT_GT(StartOf(heard, speech), static_cast<long>(quiet)) << number;
    std::printf("%s: the greeting ended at %.2f s, the message began at %.2f s\n", number, quiet / 8000.0,
                StartOf(heard, speech) / 8000.0);
    EXPECT_TRUE(phone::RecordingCarries(heard, speech, 1, report)) << number << "\n" << report;
    EXPECT_FALSE(phone::RecordingCarries(heard, speech, 2, report)) << number << "\n" << report;
    EXPECT_FALSE(phone::RecordingCarries(heard, prompt, 1, report)) << number << "\n" << report;
  }
}

// voicemail = hang_up: a mailbox hears nothing and the call ends not delivered, not tried again;
// voicemail = retry: it is tried again like a call nobody answered, then fails.
TEST_F(SipListen, AMailboxIsHungUpOnOrTriedAgainAsVoicemailSays) {
  greetings_.Say("5550203", kMailbox);
  ASSERT_TRUE(StartCallee());
  const std::string text = "The budget review is in room four.";
  const struct {
    const char* name;
    talmery::Voicemail voicemail;
    const char* reason;
    int attempts;
  } cases[] = {
      {"hang_up", talmery::Voicemail::HangUp,
       "answered by a machine; hung up without a message (voicemail = hang_up)", 1},
      {"retry", talmery::Voicemail::Retry,
       "no answer (answered by a machine; hung up without a message (voicemail = retry)) on the last of 2 tries", 2},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    talmery::Config c = DiallingTheCallee(base_, dir_.path());
    c.database = dir_.path() + "/" + t.name + ".db";
    c.attempts = 2;
    c.voicemail = t.voicemail;
    ASSERT_TRUE(StartGateway(c));
    const long long id = Post("5550203", text);
    const nlohmann::json failed = WaitForState(Port(), id, "failed", 60000);
    EXPECT_EQ(failed["reason"], t.reason) << failed.dump(1);
    EXPECT_EQ(failed["attempts"], t.attempts);
    EXPECT_EQ(failed["answerer"], "machine");
    std::string report;
    EXPECT_FALSE(phone::RecordingCarries(greetings_.Heard("5550203"), SpeechOf(text), 1, report)) << report;
    std::filesystem::remove(dir_.path() + "/heard-5550203.wav");
    StopGateway();
  }
}

// The callee's keys: star starts the message again from its beginning, 1 confirms, 2 puts the
// call off (the notice said, the call due again after snooze_minutes) while snoozes are left and
// the appointment is far enough; otherwise 2 is not offered and does nothing.
TEST_F(SipKeys, StarRepeatsOneConfirmsTwoSnoozesWhileItMay) {
  Greetings& callee = greetings_;
  talmery::Config c = DiallingTheCallee(base_, dir_.path());
  c.maxCalls = 4;
  c.confirm = true;
  c.maxCallTime = 60;
  c.repeat = 1;
  const std::string text = "The budget review is in room four.";
  const talmery::Pcm speech = SpeechOf(text);
  const talmery::Pcm withSnooze = SpeechOf(talmery::KeysPrompt(c, true));
  const talmery::Pcm withoutSnooze = SpeechOf(talmery::KeysPrompt(c, false));
  const talmery::Pcm notice = SpeechOf(talmery::SnoozeNotice(c));
  // After the star the text is said again from its beginning (half a second in), a second's
  // pause, the prompt, then the line waits kConfirmWaitSeconds for a key: 1 comes in the middle
  // of that wait, so that the prompt is heard whole however late a loaded machine plays it.
  const auto ms = [](const talmery::Pcm& pcm) { return static_cast<long>(pcm.samples.size() / 8); };
  const long confirmAt = 4500 + 500 + ms(speech) + 1000 + ms(withSnooze) + talmery::kConfirmWaitSeconds * 1000 / 2;
  // Nothing said: the line speaks after listen's initial silence, some seconds after the answer.
  callee.Press("5550211", "4500 *\n" + std::to_string(confirmAt) + " 1\n");
  callee.Press("5550212", "4500 2\n");
  callee.Press("5550213", "4500 2\n14000 info:1\n");
  ASSERT_TRUE(StartCallee());
  ASSERT_TRUE(StartGateway(c));
  const long long again = Post("5550211", text);
  const long long snooze = Post("5550212", text);
  const long long tooLate = Post("5550213", text, 5);  // a snooze would call after it began

  nlohmann::json done = WaitForState(Port(), again, "done", 60000);
  EXPECT_EQ(done["reason"], "answered by a person; confirmed (key 1)") << done.dump(1);
  std::string report;
  // Said once whole after the star (its first time was cut by it), then the prompt.
  talmery::Pcm heard = callee.Heard("5550211");
  const long star = 4500 * 8;
  EXPECT_GT(StartOf(heard, speech), star) << "not said again from its beginning";
  EXPECT_TRUE(phone::RecordingCarries(heard, withSnooze, 1, report)) << report;

  const nlohmann::json snoozed = WaitForState(Port(), snooze, "snoozed", 60000);
  EXPECT_EQ(snoozed["reason"], "answered by a person; to be called again in 5 minutes (key 2), snooze 1 of 2")
      << snoozed.dump(1);
  EXPECT_EQ(snoozed["attempts"], 1);
  EXPECT_FALSE(snoozed["next_attempt"].is_null());
  heard = callee.Heard("5550212");
  EXPECT_GT(StartOf(heard, notice), star) << "the notice was not heard";

  done = WaitForState(Port(), tooLate, "done", 60000);
  EXPECT_EQ(done["reason"], "answered by a person; confirmed (key 1)") << done.dump(1);
  heard = callee.Heard("5550213");
  EXPECT_EQ(StartOf(heard, notice), -1) << "2 put off a call that would come after the appointment began";
  EXPECT_TRUE(phone::RecordingCarries(heard, withoutSnooze, 1, report)) << report;
}

// With no snooze left (snoozes = 0 here) 2 is neither offered nor taken: the call goes on.
TEST_F(SipKeys, NoSnoozeLeftTheKeyTwoIsNotTaken) {
  Greetings& callee = greetings_;
  callee.Press("5550214", "3000 2\n");
  ASSERT_TRUE(StartCallee());
  talmery::Config c = DiallingTheCallee(base_, dir_.path());
  c.snoozes = 0;
  c.repeat = 1;
  ASSERT_TRUE(StartGateway(c));
  const std::string text = "The budget review is in room four.";
  const long long id = Post("5550214", text);
  const nlohmann::json done = WaitForState(Port(), id, "done", 60000);
  EXPECT_EQ(done["reason"], "answered by a person; the message was played") << done.dump(1);
  std::string report;
  const talmery::Pcm heard = callee.Heard("5550214");
  EXPECT_TRUE(phone::RecordingCarries(heard, SpeechOf(text), 1, report)) << report;
  EXPECT_TRUE(phone::RecordingCarries(heard, SpeechOf("Press star to hear this again."), 1, report)) << report;
  EXPECT_EQ(StartOf(heard, SpeechOf(talmery::SnoozeNotice(c))), -1);
}

}  // namespace
}  // namespace gwtest
