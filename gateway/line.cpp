#include "gateway/line.h"

#include <cctype>
#include <cstdlib>

#include "gateway/speech.h"

namespace talmery {

Outcome ClassifyClosed(const std::string& reason, bool answered) {
  Outcome o;
  o.detail = reason;
  o.answered = answered;
  if (answered) {
    o.result = Result::Delivered;
    return o;
  }
  // "486 Busy Here": the SIP status leads the reason.
  int code = 0;
  if (reason.size() >= 3 && std::isdigit(static_cast<unsigned char>(reason[0])) &&
      std::isdigit(static_cast<unsigned char>(reason[1])) && std::isdigit(static_cast<unsigned char>(reason[2])) &&
      (reason.size() == 3 || reason[3] == ' '))
    code = std::atoi(reason.substr(0, 3).c_str());
  if (code == 486 || code == 600 || code == 603) {
    o.result = Result::Busy;  // busy, busy everywhere, declined: the person may take a later call
  } else if (code == 408 || code == 480 || code == 487) {
    o.result = Result::NoAnswer;
  } else if (code == 500 || code == 502 || code == 503 || code == 504 || code == 580) {
    o.result = Result::Transient;  // the PBX or a server behind it is down or congested for now
  } else if (code == 0 && (reason == "Connection timed out" || reason == "Connection refused" ||
                           reason == "Network is unreachable" || reason == "Host is unreachable")) {
    // No SIP answer at all: the PBX is down or out of reach, which passes.
    o.result = Result::Transient;
    o.detail = reason + " (no answer from the PBX)";
  } else {
    o.result = Result::Failed;  // 404, 403, 484, 604, 401/407 (a wrong password), 488 ...
  }
  return o;
}

std::string LateNotice(long long lateMs) {
  if (lateMs <= 2 * 60 * 1000) return "";
  return "This reminder is " + std::to_string(lateMs / 60000) + " minutes late. ";
}

bool RenderMessage(const std::string& utf8Text, const Config& config, Pcm& message, std::string& error) {
  Voice voice;
  voice.name = config.voice;
  voice.wordsPerMinute = config.speechRate;
  Pcm speech;
  if (!Synthesize(utf8Text, voice, speech, error)) return false;
  // Half a second for the phone to reach the ear, a second between the repetitions.
  message = ComposeMessage(speech, config.repeat, 500, 1000, 300);
  return true;
}

}  // namespace talmery
