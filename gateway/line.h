#pragma once
// A line places one call at a time: the SIP line on the gateway's SIP engine, the speaker line
// into a WAV file. The dispatcher owns as many lines as calls may go on at once.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gateway/audio.h"
#include "gateway/config.h"
#include "gateway/listener.h"
#include "gateway/message_stream.h"

namespace talmery {

struct DialJob {
  long long id = 0;
  int attempt = 0;
  std::string number;
  std::string text;  // UTF-8
  // The callee may put the call off (key 2): a snooze is left, and the call it asks for would
  // come before the appointment begins.
  bool snoozeOffered = false;
};

// Transient: the network or this machine failed for now (a congested PBX, no answer from it, a
// speech or line fault); tried again like a busy line. Failed: it would fail again (a wrong
// number, a refusal), so it is not.
// Undelivered: answered, but on purpose not given the message and not tried again (a mailbox
// with voicemail = hang_up). Snoozed: the callee asked for the call again later (key 2).
enum class Result { Delivered, Busy, NoAnswer, Transient, Failed, Undelivered, Snoozed };

// How one try of a call ended, as the line saw it. It travels as it is from the SIP layer to the
// dispatcher; the words people read are made from it once, by EndOfAttempt.
enum class Ending {
  Played,            // the message went out in full to a reachable address
  Confirmed,         // the callee pressed 1 (confirm = yes)
  CalleeHungUp,      // answered; the callee hung up before the end
  MaxCallTime,       // answered; hung up by us after `seconds`
  Stopped,           // the gateway stopped during the try
  MediaUnreachable,  // the audio could not be sent: `detail` the address, `error` the reason (0: no route to it)
  SipStatus,         // a final SIP status: `status`, `detail` its reason phrase
  RedirectToNumber,  // a redirect (`status`) to a number `numbers` refuses (`detail`, masked)
  RedirectToHost,    // a redirect (`status`) to another host than the PBX (`detail`)
  RingTimeout,       // no answer within `seconds`
  NoResponse,        // no SIP answer at all (`error`: timed out, refused, unreachable)
  SipError,          // the SIP stack ended the call with `error`
  TlsRefused,        // the PBX's certificate did not verify (`detail`: the host and OpenSSL's reason)
  TlsFailed,         // the TLS connection failed before an answer (`error`)
  NoUsableKey,       // SRTP: the answer has no key we take (`detail`: why)
  NoCommonCodec,     // the answer offers no G.711
  SpeechFault,       // the message could not be made (`detail`)
  SpeechSilent,      // the text gives no sound (`detail`): it would give none again
  DialRefused,       // the SIP stack could not start the call (`error`)
  StackDown,         // the SIP stack is not running
  SpokenToFile,      // speaker mode: the message was written to `detail`
  LeftOnVoicemail,   // a machine answered: the message went out once, whole, after its tone (`afterTone`) or greeting
  VoicemailHungUp,   // a machine answered: hung up without a message (voicemail = hang_up)
  VoicemailRetry,    // a machine answered: hung up without a message, to try again (voicemail = retry)
  Snoozed,           // the callee pressed 2: the call again in `seconds`
};

struct TryEnd {
  Ending ending = Ending::SipError;
  bool answered = false;
  bool unconfirmed = false;  // confirm = yes, and no key 1 came: `ending` tells how the call ended
  Answerer answerer = Answerer::Deciding;  // who answered, as the line heard it (Deciding: not told)
  bool afterTone = false;    // LeftOnVoicemail: the mailbox's tone was heard before the message
  int status = 0;
  int error = 0;  // an errno value
  int seconds = 0;
  std::string detail;
  std::string note;  // what the message left out to fit max_call_time (ShortenedNote), if anything
  std::vector<std::string> dialled;  // the numbers dialled: the first, then each redirect followed
};

// The listener's timings (the listen_* settings).
ListenTimings ListenTimingsOf(const Config& config);

// How a try's end counts: delivered, busy, not answered, a passing fault, or a refusal.
Result ResultOf(const TryEnd& end);

// What people read of a try's end ("486 Busy Here", "the message was played", ...).
std::string DescribeEnd(const TryEnd& end);

// Who answered, as an answered call's outcome begins: "answered by a person", "answered by a
// machine", "answered, not sure by whom", or "answered" when the call ended before the line
// could tell.
std::string AnsweredBy(const TryEnd& end);

// What the store and the JSON keep of who answered a try: "person", "machine", "not sure"; ""
// for a try nobody answered.
std::string AnswererWord(const TryEnd& end);

// The SIP status a try ended with, as the metrics count it: the PBX's final status (486, 503, a
// redirect's 3xx), 488 for an answer refused for its media, 200 for an answered call, 0 for none
// (the PBX silent, a TLS or local fault).
int SipStatusOf(const TryEnd& end);

// What a call placed `lateMs` after its request arrived says first: nothing up to two minutes,
// then "This reminder is N minutes late. " (whole minutes), so that "in 15 minutes" in the text
// that follows is not taken at its word.
std::string LateNotice(long long lateMs);

// After the message, once, what the callee may press: 1 (to confirm, with confirm = yes), 2
// (when the call may be put off), star; and how long the line waits for a key after it.
std::string KeysPrompt(const Config& config, bool snoozeOffered);
constexpr int kConfirmWaitSeconds = 5;

// What the callee hears after key 2, before the line hangs up.
std::string SnoozeNotice(const Config& config);

// Whether a call placed at `nowTick` may offer key 2: it has snoozes left, and the call it would
// ask for (after the whole of this one, and snooze_minutes) comes before the appointment begins
// (the request's time plus its firstocc minutes).
bool SnoozeAllowed(const Config& config, int snoozesUsed, long long createdTick, int firstOcc, long long nowTick);

// The key a SIP INFO carries: application/dtmf-relay ("Signal=1\r\nDuration=160") or
// application/dtmf ("1"); 0 when it carries none.
char InfoKey(const std::string& contentType, const std::string& body);

// The message of a call: half a second of silence, the text spoken `repeat` times a second apart,
// the keys' prompt once after the last time, a little silence; all of it within `budgetSeconds`
// (0: max_call_time) less a second and the time for a key, so that a longer text is cut and
// repetitions that would not fit are left out.
// Without `keys` (speaker mode: nobody can press one) there is neither prompt nor wait.
MessagePlan PlanMessage(const std::string& utf8Text, const Config& config, bool snoozeOffered = false,
                        int budgetSeconds = 0, bool keys = true);
// The snooze notice as a message of its own: a little silence, the notice, a little silence.
MessagePlan PlanNotice(const Config& config);
// Its speech from talmery-speak helpers with the configured voice (see MessageFeed).
std::function<SpeechStarter(const std::atomic<bool>& stopping)> HelperSpeechOf(const Config& config);
// What a message that did not fit max_message_seconds or max_call_time says in the call's
// outcome; empty when it was said as planned.
// `wanted` is the times it was to be said (0: repeat).
std::string ShortenedNote(bool trimmed, bool cut, int said, const Config& config, int wanted = 0);

class Line {
 public:
  virtual ~Line() = default;
  // Makes the line ready (starting what it needs); false with a reason when it cannot place
  // calls now.
  virtual bool Ready(std::string& why) = 0;
  // Places one call and waits for its end; onAnswered runs when the callee answers.
  virtual TryEnd Place(const DialJob& job, const std::function<void()>& onAnswered) = 0;
  // From another thread: end the current call now (the gateway is stopping).
  virtual void Abort() = 0;
  virtual void Shutdown() {}
};

}  // namespace talmery

namespace talmery {

class SipEngine;

// A line that places its calls on `engine` (one engine serves every line).
std::unique_ptr<Line> MakeSipLine(const Config& config, SipEngine& engine);
// Prints each call and writes its message to <speaker_dir>/call-<id>.wav.
std::unique_ptr<Line> MakeSpeakerLine(const Config& config);

}  // namespace talmery
