#pragma once
// What a line says on a call: the message (the text, its repetitions and the keys' prompt, cut
// to fit the call), the notice after key 2, their speech, and what the outcome says of a message
// that did not fit. The SIP line and the speaker line plan with it.
#include <atomic>
#include <functional>
#include <string>

#include "gateway/config.h"
#include "gateway/message_stream.h"

namespace talmery {

// After the message, once, what the callee may press: 1 (to confirm, with confirm = yes), 2
// (when the call may be put off), star; and how long the line waits for a key after it.
std::string KeysPrompt(const Config& config, bool snoozeOffered);
constexpr int kConfirmWaitSeconds = 5;

// What the callee hears after key 2, before the line hangs up.
std::string SnoozeNotice(const Config& config);

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

}  // namespace talmery
