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
  } else if (code == 0 && reason == "Connection timed out") {
    o.result = Result::NoAnswer;
  } else {
    o.result = Result::Failed;  // 404, 403, 484, 488, 5xx, a refused connection ...
  }
  return o;
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
