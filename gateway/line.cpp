#include "gateway/line.h"

#include <algorithm>
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

MessagePlan PlanMessage(const std::string& utf8Text, const Config& config) {
  MessagePlan plan;
  plan.text = config.confirm ? utf8Text + " " + kConfirmPrompt : utf8Text;
  if (config.confirm) plan.prompt = kConfirmPrompt;
  plan.repeat = config.repeat;
  // Half a second for the phone to reach the ear, a second between the repetitions.
  plan.leadSamples = kPhoneRate / 2;
  plan.gapSamples = kPhoneRate;
  plan.tailSamples = kPhoneRate * 3 / 10;
  // A second less than max_call_time: the message begins a little after the answer, and its end
  // is to come before the line hangs up (with confirm = yes, the time for the key too).
  const long long seconds =
      config.maxCallTime - 1 - (config.confirm ? std::min(kConfirmWaitSeconds, config.maxCallTime / 2) : 0);
  plan.budgetSamples = static_cast<size_t>(seconds * kPhoneRate);
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

std::string ShortenedNote(bool cut, int said, const Config& config) {
  const std::string fit = " to fit max_call_time (" + std::to_string(config.maxCallTime) + " s)";
  if (cut) return "the message was cut" + fit;
  if (said < config.repeat)
    return "the message was said " + std::to_string(said) + " of " + std::to_string(config.repeat) + " times" + fit;
  return "";
}

}  // namespace talmery
