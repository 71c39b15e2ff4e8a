#pragma once
// A line places one call at a time: the SIP line on the gateway's SIP engine, the speaker line
// into a WAV file. The dispatcher owns as many lines as calls may go on at once.
#include <functional>
#include <memory>
#include <string>

#include "gateway/audio.h"
#include "gateway/config.h"
#include "gateway/message_stream.h"

namespace talmery {

struct DialJob {
  long long id = 0;
  int attempt = 0;
  std::string number;
  std::string text;  // UTF-8
};

// Transient: the network or this machine failed for now (a congested PBX, no answer from it, a
// speech or line fault); tried again like a busy line. Failed: it would fail again (a wrong
// number, a refusal), so it is not.
enum class Result { Delivered, Busy, NoAnswer, Transient, Failed };

struct Outcome {
  Result result = Result::Failed;
  bool answered = false;
  std::string detail;  // what the network or the line said
};

// How a call that the SIP stack closed ended, from the close reason ("end of file" when the
// message was played to its end, "486 Busy Here", "Connection reset by peer", ...) and whether the
// callee had answered. An answered call counts as delivered whoever hung up.
Outcome ClassifyClosed(const std::string& reason, bool answered);

// What a call placed `lateMs` after its request arrived says first: nothing up to two minutes,
// then "This reminder is N minutes late. " (whole minutes), so that "in 15 minutes" in the text
// that follows is not taken at its word.
std::string LateNotice(long long lateMs);

// What a call with confirm = yes adds to its text, and how long the callee has for the key
// after the message's end.
constexpr char kConfirmPrompt[] = "Press 1 to confirm.";
constexpr int kConfirmWaitSeconds = 5;

// The key a SIP INFO carries: application/dtmf-relay ("Signal=1\r\nDuration=160") or
// application/dtmf ("1"); 0 when it carries none.
char InfoKey(const std::string& contentType, const std::string& body);

// The message of a call: half a second of silence, the text spoken `repeat` times a second apart
// (with confirm = yes, the prompt follows the text each time), a little silence; all of it within
// max_call_time less a second (with confirm = yes, less the time for the key too), so that a
// longer text is cut and repetitions that would not fit are left out.
MessagePlan PlanMessage(const std::string& utf8Text, const Config& config);
// Its speech from talmery-speak helpers with the configured voice (see MessageFeed).
std::function<SpeechStarter(const std::atomic<bool>& stopping)> HelperSpeechOf(const Config& config);
// What a message that did not fit max_call_time says in the call's outcome; empty when it was
// said as planned.
std::string ShortenedNote(bool cut, int said, const Config& config);

class Line {
 public:
  virtual ~Line() = default;
  // Makes the line ready (starting what it needs); false with a reason when it cannot place
  // calls now.
  virtual bool Ready(std::string& why) = 0;
  // Places one call and waits for its end; onAnswered runs when the callee answers.
  virtual Outcome Place(const DialJob& job, const std::function<void()>& onAnswered) = 0;
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
