#pragma once
// The message of one call as a stream: silence, the speech, a pause, the speech again..., read
// while it is made, so that a call holds some seconds of it whatever the length of the text.
// Only as much speech is made as the call may last (max_call_time): a longer text is cut, and a
// repetition that would not fit is left out. Pure: where the speech comes from is given.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <climits>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace talmery {

// The speech of one text at the telephone rate, as it is made (a talmery-speak helper; a
// stand-in in tests).
class SpeechSource {
 public:
  virtual ~SpeechSource() = default;
  // Up to `count` samples, waiting for them; 0 once the speech has ended (or failed).
  virtual size_t Read(int16_t* out, size_t count) = 0;
  // After Read gave 0: whether the speech stopped at its limit (cut); false with a reason when it
  // failed.
  virtual bool Ended(bool& cut, std::string& error) = 0;
};

// Starts the speech of `text`, to stop after `maxSamples` samples; null with a reason.
using SpeechStarter =
    std::function<std::unique_ptr<SpeechSource>(const std::string& text, size_t maxSamples, std::string& error)>;

// The speech of a text as it was made once, whole: played again (a repetition, the message
// again for `*`) instead of being made again, which costs a helper and its CPU each time. Never
// changed once made, so that messages on other threads may share it.
struct KeptSpeech {
  std::string text;
  std::vector<int16_t> samples;
};

// What a call has made of its message so far: null where nothing is kept.
struct KeptMessage {
  std::shared_ptr<const KeptSpeech> text, prompt;
};

struct MessagePlan {
  std::string text;           // said each time
  std::string prompt;         // said once, after the last time (or after a text that had to be cut); empty: none
  int repeat = 1;
  size_t leadSamples = 0;     // silence before the first time, between two, after the last
  size_t gapSamples = 0;
  size_t tailSamples = 0;
  size_t budgetSamples = 0;   // what the whole message may last
  bool trimmed = false;       // the text was cut to what a listener attends to (max_message_seconds)
  // The first saying of the text is kept for the next ones up to this many samples (0: none); a
  // longer one is made again for each saying.
  size_t keepSamples = 0;
  KeptMessage kept;           // made before for the same call: played from here, not made again
};

class MessageStream {
 public:
  static constexpr size_t kMaxPromptSamples = 10 * 8000;
  // Below this peak the speech is taken for silence: the text gave no sound.
  static constexpr int kSoundPeak = 100;

  MessageStream(MessagePlan plan, SpeechStarter start);
  // Up to `count` samples of the message, waiting for the speech; fewer only at its end, 0 after
  // it (or after a failure: see Error).
  size_t Read(int16_t* out, size_t count);
  // Why the message ended early; empty when it did not.
  const std::string& Error() const { return error_; }
  bool Silent() const { return silent_; }
  // The text was longer than the message may last: cut (and the prompt said after it).
  bool Cut() const { return cut_; }
  // The text was cut before it was spoken, to max_message_seconds (MessagePlan::trimmed).
  bool Trimmed() const { return plan_.trimmed; }
  // Times the text was said whole.
  int Said() const { return said_; }
  // Where the first saying of the text ended, in samples of the message (0 before).
  size_t FirstEnd() const { return firstEnd_; }
  // The speech made whole so far (the prompt once loaded, the text once said whole within
  // keepSamples), to play again.
  KeptMessage Kept() const { return kept_; }

 private:
  enum class Part { Start, Lead, Speech, Prompt, Gap, Tail, End };
  bool LoadPrompt();
  std::unique_ptr<SpeechSource> Start(const std::shared_ptr<const KeptSpeech>& kept, const std::string& text,
                                      size_t maxSamples, std::string& error);
  bool StartSpeech();
  void EndSpeech();
  size_t PromptSize() const { return kept_.prompt ? kept_.prompt->samples.size() : 0; }
  void Fail(const std::string& error);

  const MessagePlan plan_;
  SpeechStarter start_;
  Part part_ = Part::Start;
  std::unique_ptr<SpeechSource> source_;
  KeptMessage kept_;      // its prompt is the one played
  std::vector<int16_t> keeping_;  // the first saying as it is made, while within keepSamples
  bool keep_ = false;             // the speech playing is being kept
  size_t left_ = 0;       // samples left of the current silence or prompt
  size_t position_ = 0;   // samples of the message so far
  size_t spoken_ = 0;     // of the current speech
  size_t length_ = 0;     // of the first speech
  size_t firstEnd_ = 0;
  int peak_ = 0;
  int said_ = 0;
  bool cut_ = false, silent_ = false;
  std::string error_;
};

// A message made on a thread of its own, some seconds ahead of the line that plays it: Take
// never waits, so that the thread that sends the call's packets is never held up by the speech.
class MessageFeed {
 public:
  // Held ahead at most: the usual reminder whole, so that its helper ends at once (a helper costs
  // more memory than this). The feed is ready to play only once that much is here (or the
  // message is whole): in a rush the helpers run at the lowest priority and may make speech
  // slower than it plays, and a feed that started at its first seconds would then play gaps in
  // the middle of words. A usual reminder is thus played whole, as it was made before it began.
  static constexpr size_t kAheadSamples = 16 * 8000;

  // `changed` runs (on the feed's thread) when the feed becomes ready and when the message ends.
  // `start` gets a flag that is set when the feed is destroyed: a starter's speech stops waiting
  // on it.
  MessageFeed(MessagePlan plan,
              std::function<SpeechStarter(const std::atomic<bool>& stopping)> starter,
              std::function<void()> changed);
  ~MessageFeed();
  MessageFeed(const MessageFeed&) = delete;
  MessageFeed& operator=(const MessageFeed&) = delete;

  // Ready to play: kAheadSamples are here, or the message has ended (or failed) already.
  bool Ready();
  // Up to `count` samples that are here; `ended` once the message has ended and all of it has
  // been taken, or its limit has been reached.
  size_t Take(int16_t* out, size_t count, bool& ended);
  // At most `samples` more are taken: a message that began late (its speech slower than the
  // phone's answer) still ends within the call's time, cut.
  void Limit(size_t samples);
  // The text is played once only (a mailbox): the message ends after its first saying and
  // `tailSamples` of silence, before any repetition or prompt; the feed is ready once that first
  // saying is made.
  void Once(size_t tailSamples);
  // Once ended: the first saying was cut (to the budget or the limit).
  bool FirstCut();
  // The speech the message has made whole (MessageStream::Kept), once its first saying ended:
  // for the message again, with no new helper.
  KeptMessage Kept();
  // Once ended: how the message went (as MessageStream tells it).
  bool Finished();
  std::string Error();
  bool Silent();
  bool Cut();
  bool Trimmed();
  int Said();

 private:
  void Make();

  std::atomic<bool> stopping_{false};
  std::function<void()> changed_;
  std::unique_ptr<MessageStream> stream_;
  std::mutex mu_;
  std::condition_variable room_;
  std::vector<int16_t> ring_;
  size_t head_ = 0, size_ = 0;
  bool finished_ = false, ready_ = false;
  size_t limit_ = SIZE_MAX;
  bool truncated_ = false;  // the limit left some of the message out
  bool once_ = false;
  size_t onceTail_ = 0;
  size_t firstEnd_ = 0;     // the stream's FirstEnd, once known
  bool firstCut_ = false;
  KeptMessage kept_;        // the stream's, once its first saying ended
  size_t taken_ = 0;
  std::thread thread_;
};

}  // namespace talmery
