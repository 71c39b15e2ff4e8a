#include "gateway/message_plan.h"

#include <algorithm>
#include <vector>

#include "gateway/audio.h"
#include "gateway/ear_text.h"
#include "gateway/speech.h"

namespace talmery {

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
