#include "gateway/message_stream.h"

#include <algorithm>
#include <cstdlib>

namespace talmery {
namespace {

// Speech kept from before, given as its helper gave it: cut at the limit it is started with.
class ReplayedSpeech : public SpeechSource {
 public:
  ReplayedSpeech(std::shared_ptr<const KeptSpeech> kept, size_t limit)
      : kept_(std::move(kept)), end_(limit > 0 ? std::min(limit, kept_->samples.size()) : kept_->samples.size()) {}
  size_t Read(int16_t* out, size_t count) override {
    const size_t n = std::min(count, end_ - at_);
    std::copy_n(kept_->samples.begin() + static_cast<long>(at_), n, out);
    at_ += n;
    return n;
  }
  bool Ended(bool& cut, std::string&) override {
    cut = kept_->samples.size() > end_;
    return true;
  }

 private:
  std::shared_ptr<const KeptSpeech> kept_;
  size_t end_, at_ = 0;
};

}  // namespace

MessageStream::MessageStream(MessagePlan plan, SpeechStarter start)
    : plan_(std::move(plan)), start_(std::move(start)) {
  if (plan_.kept.text && plan_.kept.text->text == plan_.text) kept_.text = plan_.kept.text;
}

std::unique_ptr<SpeechSource> MessageStream::Start(const std::shared_ptr<const KeptSpeech>& kept,
                                                   const std::string& text, size_t maxSamples, std::string& error) {
  if (kept && kept->text == text) return std::make_unique<ReplayedSpeech>(kept, maxSamples);
  return start_(text, maxSamples, error);
}

void MessageStream::Fail(const std::string& error) {
  error_ = error;
  source_.reset();
  part_ = Part::End;
}

// The prompt is made first (it is short), so that a text that has to be cut leaves room for it.
bool MessageStream::LoadPrompt() {
  if (plan_.prompt.empty()) return true;
  if (plan_.kept.prompt && plan_.kept.prompt->text == plan_.prompt) {
    kept_.prompt = plan_.kept.prompt;
    return true;
  }
  std::string error;
  std::unique_ptr<SpeechSource> prompt = start_(plan_.prompt, kMaxPromptSamples, error);
  if (!prompt) {
    Fail(error);
    return false;
  }
  KeptSpeech made{plan_.prompt, {}};
  int16_t buffer[800];
  for (size_t n; (n = prompt->Read(buffer, 800)) > 0;) made.samples.insert(made.samples.end(), buffer, buffer + n);
  bool cut = false;
  if (!prompt->Ended(cut, error)) {
    Fail(error);
    return false;
  }
  made.samples.shrink_to_fit();
  kept_.prompt = std::make_shared<const KeptSpeech>(std::move(made));
  return true;
}

bool MessageStream::StartSpeech() {
  // The first time, all the budget leaves room for (the silences, and the prompt that follows the
  // last time); a repetition only starts when it fits, and is held to what is left all the same.
  size_t reserved = plan_.tailSamples + PromptSize();
  size_t limit = plan_.budgetSamples > position_ + reserved ? plan_.budgetSamples - position_ - reserved : 0;
  limit = std::max<size_t>(limit, 8000);  // a second at least, whatever the settings
  std::string error;
  // Once the text has been said whole, the next times are played from what it gave.
  source_ = Start(kept_.text, plan_.text, limit, error);
  if (!source_) {
    Fail(error);
    return false;
  }
  part_ = Part::Speech;
  spoken_ = 0;
  keep_ = firstEnd_ == 0 && !kept_.text && plan_.keepSamples > 0;
  return true;
}

void MessageStream::EndSpeech() {
  bool cut = false;
  std::string error;
  if (!source_->Ended(cut, error)) return Fail(error);
  source_.reset();
  if (said_ == 0) {
    length_ = spoken_;
    if (peak_ < kSoundPeak) {
      silent_ = true;
      return Fail("the text gave no sound");
    }
  }
  if (keep_ && !cut) {
    keeping_.shrink_to_fit();
    kept_.text = std::make_shared<const KeptSpeech>(KeptSpeech{plan_.text, std::move(keeping_)});
  }
  keep_ = false;
  std::vector<int16_t>().swap(keeping_);
  if (firstEnd_ == 0) firstEnd_ = position_;
  if (!cut) ++said_;
  if (cut) cut_ = true;
  if (!cut && said_ < plan_.repeat &&
      position_ + plan_.gapSamples + length_ + PromptSize() + plan_.tailSamples <= plan_.budgetSamples) {
    part_ = Part::Gap;
    left_ = plan_.gapSamples;
  } else {
    part_ = PromptSize() == 0 ? Part::Tail : Part::Prompt;
    left_ = PromptSize() == 0 ? plan_.tailSamples : PromptSize();
  }
}

size_t MessageStream::Read(int16_t* out, size_t count) {
  size_t done = 0;
  while (done < count && part_ != Part::End) {
    switch (part_) {
      case Part::Start:
        if (LoadPrompt()) {
          part_ = Part::Lead;
          left_ = plan_.leadSamples;
        }
        break;
      case Part::Lead:
      case Part::Gap:
      case Part::Tail:
      case Part::Prompt: {
        const size_t n = std::min(left_, count - done);
        if (part_ == Part::Prompt) std::copy_n(kept_.prompt->samples.end() - static_cast<long>(left_), n, out + done);
        else std::fill_n(out + done, n, 0);
        done += n;
        left_ -= n;
        position_ += n;
        if (left_ > 0) break;
        if (part_ == Part::Tail) {
          part_ = Part::End;
        } else if (part_ == Part::Prompt) {
          part_ = Part::Tail;
          left_ = plan_.tailSamples;
        } else {
          StartSpeech();
        }
        break;
      }
      case Part::Speech: {
        const size_t n = source_->Read(out + done, count - done);
        if (n == 0) {
          EndSpeech();
          break;
        }
        if (said_ == 0)
          for (size_t i = done; i < done + n; ++i) peak_ = std::max(peak_, std::abs(static_cast<int>(out[i])));
        if (keep_) {
          // Past what is kept, the saying is let go (and made again for the next time).
          if (keeping_.size() + n <= plan_.keepSamples) {
            keeping_.insert(keeping_.end(), out + done, out + done + n);
          } else {
            keep_ = false;
            std::vector<int16_t>().swap(keeping_);
          }
        }
        done += n;
        spoken_ += n;
        position_ += n;
        break;
      }
      case Part::End:
        break;
    }
  }
  return done;
}

MessageFeed::MessageFeed(MessagePlan plan, std::function<SpeechStarter(const std::atomic<bool>&)> starter,
                         std::function<void()> changed)
    : changed_(std::move(changed)), ring_(kAheadSamples) {
  stream_ = std::make_unique<MessageStream>(std::move(plan), starter(stopping_));
  thread_ = std::thread([this] { Make(); });
}

MessageFeed::~MessageFeed() {
  stopping_ = true;
  room_.notify_all();
  thread_.join();
}

void MessageFeed::Make() {
  int16_t chunk[800];  // 100 ms
  for (;;) {
    const size_t n = stream_->Read(chunk, 800);
    bool tell = false;
    {
      std::unique_lock<std::mutex> lock(mu_);
      for (size_t put = 0; put < n;) {
        room_.wait(lock, [&] { return size_ < ring_.size() || stopping_; });
        if (stopping_) return;
        const size_t tail = (head_ + size_) % ring_.size();
        const size_t m = std::min({n - put, ring_.size() - size_, ring_.size() - tail});
        std::copy_n(chunk + put, m, ring_.begin() + static_cast<long>(tail));
        size_ += m;
        put += m;
        if (size_ >= kAheadSamples && !ready_) ready_ = tell = true;
      }
      if (firstEnd_ == 0 && stream_->FirstEnd() > 0) {
        firstEnd_ = stream_->FirstEnd();
        firstCut_ = stream_->Cut();  // (set by the same end of speech)
        kept_ = stream_->Kept();
        if (once_ && !ready_) ready_ = tell = true;  // the first saying is all that is played
      }
      if (n < 800) {
        finished_ = ready_ = tell = true;
      }
    }
    if (tell && changed_ && !stopping_) changed_();
    if (n < 800 || stopping_) return;
  }
}

bool MessageFeed::Ready() {
  std::lock_guard<std::mutex> lock(mu_);
  return ready_;
}

size_t MessageFeed::Take(int16_t* out, size_t count, bool& ended) {
  size_t done = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    count = std::min(count, limit_);
    if (once_ && firstEnd_ > 0) count = std::min(count, firstEnd_ + onceTail_ > taken_ ? firstEnd_ + onceTail_ - taken_ : 0);
    while (done < count && size_ > 0) {
      const size_t m = std::min({count - done, size_, ring_.size() - head_});
      std::copy_n(ring_.begin() + static_cast<long>(head_), m, out + done);
      // Once: what follows the first saying in the stream (a gap, the repetition) is silence.
      if (once_ && firstEnd_ > 0)
        for (size_t i = 0; i < m; ++i)
          if (taken_ + done + i >= firstEnd_) out[done + i] = 0;
      head_ = (head_ + m) % ring_.size();
      size_ -= m;
      done += m;
    }
    if (limit_ != SIZE_MAX) limit_ -= done;
    if (limit_ == 0 && !(finished_ && size_ == 0)) truncated_ = true;
    taken_ += done;
    // Once: the first saying (and a tail of the silence after it) is the whole message.
    ended = (finished_ && size_ == 0) || limit_ == 0 || (once_ && firstEnd_ > 0 && taken_ >= firstEnd_ + onceTail_);
  }
  room_.notify_all();
  return done;
}

void MessageFeed::Once(size_t tailSamples) {
  std::lock_guard<std::mutex> lock(mu_);
  once_ = true;
  onceTail_ = tailSamples;
  if (firstEnd_ > 0) ready_ = true;
}

KeptMessage MessageFeed::Kept() {
  std::lock_guard<std::mutex> lock(mu_);
  return kept_;
}

bool MessageFeed::FirstCut() {
  std::lock_guard<std::mutex> lock(mu_);
  return truncated_ || firstCut_;
}

void MessageFeed::Limit(size_t samples) {
  std::lock_guard<std::mutex> lock(mu_);
  limit_ = samples;
}

bool MessageFeed::Finished() {
  std::lock_guard<std::mutex> lock(mu_);
  return finished_;
}

// The stream is the feed thread's until it has finished; after that it is read here only.
std::string MessageFeed::Error() {
  std::lock_guard<std::mutex> lock(mu_);
  return finished_ ? stream_->Error() : "";
}

bool MessageFeed::Silent() {
  std::lock_guard<std::mutex> lock(mu_);
  return finished_ && stream_->Silent();
}

bool MessageFeed::Cut() {
  std::lock_guard<std::mutex> lock(mu_);
  return truncated_ || (finished_ && stream_->Cut());
}

bool MessageFeed::Trimmed() {
  std::lock_guard<std::mutex> lock(mu_);
  return stream_->Trimmed();
}

int MessageFeed::Said() {
  std::lock_guard<std::mutex> lock(mu_);
  return finished_ ? stream_->Said() : 0;
}

}  // namespace talmery
