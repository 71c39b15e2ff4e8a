#include "gateway/try_outcome.h"

#include <cstring>

#include "gateway/sdes.h"

namespace talmery {

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

}  // namespace talmery
