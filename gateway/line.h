#pragma once
// A line places one call at a time: the SIP line on the gateway's SIP engine, the speaker line
// into a WAV file. The dispatcher owns as many lines as calls may go on at once.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gateway/config.h"
#include "gateway/listener.h"

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
