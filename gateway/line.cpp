#include "gateway/line.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "gateway/ear_text.h"
#include "gateway/sdes.h"
#include "gateway/speech.h"

namespace talmery {

ListenTimings ListenTimingsOf(const Config& config) { return config.listening; }

Result ResultOf(const TryEnd& end) {
  if (end.unconfirmed) return Result::NoAnswer;  // answered, but nobody said they heard it
  switch (end.ending) {
    case Ending::LeftOnVoicemail:  // what voicemail = leave asks for: the mailbox has it
      return Result::Delivered;
    case Ending::VoicemailHungUp:
      return Result::Undelivered;
    case Ending::VoicemailRetry:
      return Result::NoAnswer;
    case Ending::Snoozed:
      return Result::Snoozed;
    case Ending::Played:
    case Ending::Confirmed:
    case Ending::MaxCallTime:
    case Ending::SpokenToFile:
      return Result::Delivered;
    case Ending::CalleeHungUp:
      return end.answered ? Result::Delivered : Result::NoAnswer;
    case Ending::Stopped:
      return end.answered ? Result::Delivered : Result::Failed;
    case Ending::SipStatus:
      switch (end.status) {
        case 486: case 600: case 603:
          return Result::Busy;  // busy, busy everywhere, declined: the person may take a later call
        case 408: case 480: case 487:
          return Result::NoAnswer;
        case 500: case 502: case 503: case 504: case 580:
          return Result::Transient;  // the PBX or a server behind it is down or congested for now
        default:
          return Result::Failed;  // 404, 403, 484, 604, 401/407 (a wrong password), 488, a redirect loop ...
      }
    case Ending::RingTimeout:
      return Result::NoAnswer;
    case Ending::NoResponse:        // the PBX is down or out of reach, which passes
    case Ending::MediaUnreachable:  // a route that is missing now may be back later
    case Ending::SpeechFault:       // faults of this machine: they may pass
    case Ending::DialRefused:
    case Ending::StackDown:
      return Result::Transient;
    case Ending::RedirectToNumber:
    case Ending::RedirectToHost:
    case Ending::SpeechSilent:
    case Ending::SipError:
    case Ending::TlsRefused:
    case Ending::TlsFailed:
    case Ending::NoUsableKey:
    case Ending::NoCommonCodec:
      return Result::Failed;
  }
  return Result::Failed;
}

std::string DescribeEnd(const TryEnd& end) {
  const std::string why = end.error ? std::strerror(end.error) : "";
  std::string text;
  switch (end.ending) {
    case Ending::Played: text = end.note.empty() ? "the message was played" : end.note; break;
    case Ending::Confirmed: text = "confirmed (key 1)" + (end.note.empty() ? "" : "; " + end.note); break;
    case Ending::CalleeHungUp: text = "the callee hung up"; break;
    case Ending::MaxCallTime: text = "hung up after " + std::to_string(end.seconds) + " s"; break;
    case Ending::Stopped:
      text = end.answered ? "hung up: the gateway is stopping" : "the gateway stopped while dialling";
      break;
    case Ending::MediaUnreachable:
      text = end.error ? "the message could not be sent to " + end.detail + ": " + why
                       : "the callee's media address " + end.detail + " cannot be reached";
      break;
    case Ending::SipStatus: text = std::to_string(end.status) + (end.detail.empty() ? "" : " " + end.detail); break;
    case Ending::RedirectToNumber:
      text = std::to_string(end.status) + " redirect to the number " + end.detail + ", which may not be called";
      break;
    case Ending::RedirectToHost:
      text = std::to_string(end.status) + " redirect to " + end.detail + ", which is not the PBX";
      break;
    case Ending::RingTimeout: text = "no answer in " + std::to_string(end.seconds) + " s"; break;
    case Ending::NoResponse: text = why + " (no answer from the PBX)"; break;
    case Ending::SipError: text = why.empty() ? end.detail : why; break;
    case Ending::TlsRefused: text = "TLS: the PBX's certificate does not verify for " + end.detail; break;
    case Ending::TlsFailed: text = "TLS: the connection to the PBX failed before an answer: " + why; break;
    case Ending::NoUsableKey:
      text = "488 no usable SRTP key in the answer (a=crypto " + std::string(kSdesSuite) + "): " + end.detail;
      break;
    case Ending::NoCommonCodec: text = "488 no common codec in the answer"; break;
    case Ending::SpeechFault:
    case Ending::SpeechSilent: text = "speech: " + end.detail; break;
    case Ending::DialRefused: text = "dial refused: " + why; break;
    case Ending::StackDown: text = "the SIP stack is not running"; break;
    case Ending::SpokenToFile: text = "spoken to " + end.detail + (end.note.empty() ? "" : "; " + end.note); break;
    case Ending::LeftOnVoicemail:
      text = std::string("left on voicemail after the ") + (end.afterTone ? "tone" : "greeting") +
             (end.note.empty() ? "" : "; " + end.note);
      break;
    case Ending::VoicemailHungUp: text = "hung up without a message (voicemail = hang_up)"; break;
    // Counted as no answer: the words say who answered, as the try's outcome does not.
    case Ending::VoicemailRetry: text = AnsweredBy(end) + "; hung up without a message (voicemail = retry)"; break;
    case Ending::Snoozed: {
      const int minutes = end.seconds / 60;
      text = "to be called again in " + std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes") + " (key 2)";
      break;
    }
  }
  if (!end.unconfirmed) return text;
  return end.ending == Ending::Played ? AnsweredBy(end) + ", not confirmed"
                                      : AnsweredBy(end) + ", not confirmed (" + text + ")";
}

std::string AnsweredBy(const TryEnd& end) {
  switch (end.answerer) {
    case Answerer::Person: return "answered by a person";
    case Answerer::Machine: return "answered by a machine";
    case Answerer::NotSure: return "answered, not sure by whom";
    case Answerer::Deciding: break;
  }
  return "answered";
}

std::string AnswererWord(const TryEnd& end) {
  if (!end.answered) return "";
  switch (end.answerer) {
    case Answerer::Person: return "person";
    case Answerer::Machine: return "machine";
    case Answerer::NotSure:
    case Answerer::Deciding: break;
  }
  return "not sure";
}

namespace {
std::string Minutes(int minutes) { return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes"); }
}  // namespace

std::string KeysPrompt(const Config& config, bool snoozeOffered) {
  std::vector<std::string> parts;
  if (config.confirm) parts.push_back("1 to confirm");
  if (snoozeOffered) parts.push_back("2 to be reminded again in " + Minutes(config.snoozeMinutes));
  parts.push_back("star to hear this again");
  std::string text = "Press";
  for (size_t i = 0; i < parts.size(); ++i) text += (i ? ", " : " ") + parts[i];
  return text + ".";
}

std::string SnoozeNotice(const Config& config) {
  return "The reminder will call again in " + Minutes(config.snoozeMinutes) + ".";
}

bool SnoozeAllowed(const Config& config, int snoozesUsed, long long createdTick, int firstOcc, long long nowTick) {
  if (snoozesUsed >= config.snoozes) return false;
  const long long startTick = createdTick + static_cast<long long>(firstOcc) * 60 * 1000;
  const long long againTick =
      nowTick + (static_cast<long long>(config.maxCallTime) + static_cast<long long>(config.snoozeMinutes) * 60) * 1000;
  return againTick <= startTick;
}

int SipStatusOf(const TryEnd& end) {
  switch (end.ending) {
    case Ending::SipStatus:
    case Ending::RedirectToNumber:
    case Ending::RedirectToHost:
      return end.status;
    case Ending::NoUsableKey:
    case Ending::NoCommonCodec:
      return 488;
    default:
      return end.answered ? 200 : 0;
  }
}

char InfoKey(const std::string& contentType, const std::string& body) {
  std::string type;
  for (char c : contentType.substr(0, contentType.find(';')))
    if (c != ' ') type += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto key = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#' ? c : '\0'; };
  if (type == "application/dtmf") {
    const size_t at = body.find_first_not_of(" \t\r\n");
    return at == std::string::npos || body.find_first_not_of(" \t\r\n", at + 1) != std::string::npos ? '\0' : key(body[at]);
  }
  if (type != "application/dtmf-relay") return '\0';
  for (size_t line = 0; line < body.size();) {
    const size_t end = std::min(body.find('\n', line), body.size());
    std::string text = body.substr(line, end - line);
    line = end + 1;
    const size_t eq = text.find('=');
    if (eq == std::string::npos) continue;
    std::string name;
    for (char c : text.substr(0, eq))
      if (c != ' ' && c != '\t') name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name != "signal") continue;
    const size_t at = text.find_first_not_of(" \t", eq + 1);
    const size_t after = at == std::string::npos ? at : text.find_first_not_of(" \t\r", at + 1);
    return at == std::string::npos || after != std::string::npos ? '\0' : key(text[at]);
  }
  return '\0';
}

std::string LateNotice(long long lateMs) {
  if (lateMs <= 2 * 60 * 1000) return "";
  return "This reminder is " + std::to_string(lateMs / 60000) + " minutes late. ";
}

MessagePlan PlanMessage(const std::string& utf8Text, const Config& config, bool snoozeOffered, int budgetSeconds,
                        bool keys) {
  MessagePlan plan;
  // Within a listener's attention: a longer text is cut at a sentence, so that the repetition
  // comes while the callee still listens.
  plan.text = WithinSeconds(EarText(utf8Text), config.maxMessageSeconds, config.speechRate, plan.trimmed);
  if (keys) plan.prompt = KeysPrompt(config, snoozeOffered);
  plan.repeat = config.repeat;
  // The first saying is kept for the repetitions and for `*` (16 KB a second of speech): a text
  // within max_message_seconds, and the tenth more that a voice may take over its estimate.
  plan.keepSamples = static_cast<size_t>(config.maxMessageSeconds) * kPhoneRate * 11 / 10;
  // Half a second for the phone to reach the ear, a second between the repetitions.
  plan.leadSamples = kPhoneRate / 2;
  plan.gapSamples = kPhoneRate;
  plan.tailSamples = kPhoneRate * 3 / 10;
  // A second less than the call's time: the message begins a little after the answer, and its
  // end is to come before the line hangs up, with the time for a key after the prompt.
  const int callSeconds = budgetSeconds > 0 ? budgetSeconds : config.maxCallTime;
  const long long seconds = std::max(1, callSeconds - 1 - (keys ? std::min(kConfirmWaitSeconds, callSeconds / 2) : 0));
  plan.budgetSamples = static_cast<size_t>(seconds * kPhoneRate);
  return plan;
}

MessagePlan PlanNotice(const Config& config) {
  MessagePlan plan;
  plan.text = SnoozeNotice(config);
  plan.repeat = 1;
  plan.leadSamples = kPhoneRate / 5;
  plan.tailSamples = kPhoneRate / 2;  // the notice's end reaches the ear before the BYE
  plan.budgetSamples = static_cast<size_t>(10 * kPhoneRate);
  return plan;
}

std::function<SpeechStarter(const std::atomic<bool>&)> HelperSpeechOf(const Config& config) {
  Voice voice;
  voice.name = config.voice;
  voice.wordsPerMinute = config.speechRate;
  return [voice](const std::atomic<bool>& stopping) -> SpeechStarter {
    return [voice, &stopping](const std::string& text, size_t maxSamples, std::string& error) {
      return StartSpeech(text, voice, maxSamples, &stopping, error);
    };
  };
}

std::string ShortenedNote(bool trimmed, bool cut, int said, const Config& config, int wanted) {
  if (wanted <= 0) wanted = config.repeat;
  const std::string fit = " to fit max_call_time (" + std::to_string(config.maxCallTime) + " s)";
  const std::string shortened =
      trimmed ? "the message was cut at a sentence to fit max_message_seconds (" +
                    std::to_string(config.maxMessageSeconds) + " s)"
              : "";
  const auto both = [&](const std::string& more) { return shortened.empty() ? more : shortened + "; " + more; };
  if (cut) return both("the message was cut" + fit);
  if (said < wanted)
    return both("the message was said " + std::to_string(said) + " of " + std::to_string(wanted) + " times" + fit);
  return shortened;
}

}  // namespace talmery
