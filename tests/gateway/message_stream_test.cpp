// The message of a call as a stream: its exact samples, what is cut or left out to fit the time a
// call may last, a text that gives no sound, and the feed that stays only a few seconds ahead.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "gateway/message_stream.h"

namespace talmery {
namespace {

// `length` samples of speech (level 0: silence), given a few at a time and cut at its limit.
class FakeSpeech : public SpeechSource {
 public:
  FakeSpeech(size_t length, int16_t level, size_t limit, std::atomic<size_t>* given = nullptr)
      : length_(length), level_(level), limit_(limit), given_(given) {}
  size_t Read(int16_t* out, size_t count) override {
    const size_t n = std::min({count, size_t{333}, std::min(length_, limit_) - at_});
    for (size_t i = 0; i < n; ++i) out[i] = Sample(level_, at_ + i);
    at_ += n;
    if (given_) *given_ += n;
    return n;
  }
  bool Ended(bool& cut, std::string&) override {
    cut = length_ > limit_;
    return true;
  }
  static int16_t Sample(int16_t level, size_t i) { return level ? static_cast<int16_t>(level + i % 7) : 0; }

 private:
  size_t length_, at_ = 0;
  int16_t level_;
  size_t limit_;
  std::atomic<size_t>* given_;
};

constexpr size_t kLead = 100, kGap = 50, kTail = 30, kPrompt = 1000;

MessagePlan Plan(int repeat, size_t budget, bool prompt) {
  MessagePlan plan;
  plan.text = "text";
  if (prompt) plan.prompt = "prompt";
  plan.repeat = repeat;
  plan.leadSamples = kLead;
  plan.gapSamples = kGap;
  plan.tailSamples = kTail;
  plan.budgetSamples = budget;
  return plan;
}

std::vector<int16_t> ReadAll(MessageStream& m) {
  std::vector<int16_t> all;
  int16_t chunk[777];
  for (size_t n; (n = m.Read(chunk, 777)) > 0;) all.insert(all.end(), chunk, chunk + n);
  return all;
}

TEST(MessageStream, SaysWhatFitsTheCallAndCutsTheRest) {
  struct Part {
    size_t samples;
    int16_t level;  // 0: silence; 1000: the text; 5000: the prompt
  };
  const struct Case {
    const char* what;
    size_t speech;
    int repeat;
    size_t budget;
    bool prompt;
    std::vector<size_t> limits;  // what each speech of the text was started with
    std::vector<Part> parts;
    int said;
    bool cut;
  } cases[] = {
      {"fits twice", 9000, 2, 100000, false, {99870, 90820},
       {{kLead, 0}, {9000, 1000}, {kGap, 0}, {9000, 1000}, {kTail, 0}}, 2, false},
      {"a third time would not fit", 9000, 3, 18380, false, {18250, 9200},
       {{kLead, 0}, {9000, 1000}, {kGap, 0}, {9000, 1000}, {kTail, 0}}, 2, false},
      {"cut, the prompt after it", 50000, 2, 20000, true, {18870},
       {{kLead, 0}, {18870, 1000}, {kPrompt, 5000}, {kTail, 0}}, 0, true},
      {"cut without a prompt", 50000, 2, 20000, false, {19870}, {{kLead, 0}, {19870, 1000}, {kTail, 0}}, 0, true},
      {"twice, the prompt once after the last time", 9000, 2, 100000, true, {98870, 89820},
       {{kLead, 0}, {9000, 1000}, {kGap, 0}, {9000, 1000}, {kPrompt, 5000}, {kTail, 0}}, 2, false},
      {"a second time would leave no room for the prompt", 9000, 2, 19000, true, {17870},
       {{kLead, 0}, {9000, 1000}, {kPrompt, 5000}, {kTail, 0}}, 1, false},
  };
  // The same message whether the first saying is kept for the next (all of it: its helper is
  // started once) or not (nothing, or a sample less than the text: a helper for each saying).
  for (const Case& c : cases)
    for (const size_t keep : {size_t{0}, c.speech - 1, c.speech}) {
      const std::string what = std::string(c.what) + ", kept up to " + std::to_string(keep);
      std::vector<size_t> limits;
      int prompts = 0;
      MessagePlan plan = Plan(c.repeat, c.budget, c.prompt);
      plan.keepSamples = keep;
      MessageStream m(plan, [&](const std::string& text, size_t limit, std::string&) {
        if (text == "prompt") return ++prompts, std::make_unique<FakeSpeech>(kPrompt, 5000, limit);
        limits.push_back(limit);
        return std::make_unique<FakeSpeech>(c.speech, 1000, limit);
      });
      std::vector<int16_t> expected;
      for (const Part& p : c.parts)
        for (size_t i = 0; i < p.samples; ++i) expected.push_back(FakeSpeech::Sample(p.level, i));
      const std::vector<int16_t> got = ReadAll(m);
      EXPECT_EQ(got.size(), expected.size()) << what;
      EXPECT_TRUE(got == expected) << what;
      EXPECT_LE(got.size(), c.budget) << what;
      EXPECT_EQ(limits, keep >= c.speech ? std::vector<size_t>{c.limits[0]} : c.limits) << what;
      EXPECT_EQ(prompts, c.prompt ? 1 : 0) << what;
      EXPECT_EQ(m.Said(), c.said) << what;
      EXPECT_EQ(m.Cut(), c.cut) << what;
      EXPECT_EQ(m.Error(), "") << what;
      // Kept only when said whole within the bound.
      EXPECT_EQ(m.Kept().text != nullptr, keep >= c.speech && !c.cut) << what;
    }
}

// `*`: the message again from what the first one made, with no helper at all, the samples as
// they were; a kept speech of another text is not played for this one.
TEST(MessageStream, MessageAgainIsPlayedFromTheSpeechKept) {
  int starts = 0;
  const auto starter = [&](const std::atomic<bool>&) -> SpeechStarter {
    return [&](const std::string& text, size_t limit, std::string&) {
      ++starts;
      return text == "prompt" ? std::make_unique<FakeSpeech>(kPrompt, 5000, limit)
                              : std::make_unique<FakeSpeech>(9000, text == "text" ? 1000 : 2000, limit);
    };
  };
  MessagePlan first = Plan(2, 100000, true);
  first.keepSamples = 60 * 8000;
  KeptMessage kept;
  {
    MessageFeed feed(first, starter, nullptr);
    bool ended = false;
    while (!ended) {
      int16_t packet[160];
      if (feed.Take(packet, 160, ended) == 0) std::this_thread::yield();
    }
    EXPECT_EQ(feed.Said(), 2);
    kept = feed.Kept();
  }
  EXPECT_EQ(starts, 2);  // the prompt and the text once
  ASSERT_NE(kept.text, nullptr);
  ASSERT_NE(kept.prompt, nullptr);

  const std::atomic<bool> stopping{false};
  for (const char* text : {"text", "other text"}) {
    starts = 0;
    MessagePlan again = Plan(1, 50000, true);
    again.text = text;
    again.kept = kept;
    MessageStream m(again, starter(stopping));
    const std::vector<int16_t> got = ReadAll(m);
    ASSERT_EQ(got.size(), kLead + 9000 + kPrompt + kTail) << text;
    const int16_t level = again.text == "text" ? 1000 : 2000;
    EXPECT_TRUE(std::equal(got.begin() + kLead, got.begin() + kLead + 9000, kept.text->samples.begin()) ==
                (level == 1000))
        << text;
    EXPECT_EQ(got[kLead + 8999], FakeSpeech::Sample(level, 8999)) << text;
    EXPECT_EQ(got[kLead + 9000 + 123], FakeSpeech::Sample(5000, 123)) << text;
    EXPECT_EQ(starts, level == 1000 ? 0 : 1) << text;
    EXPECT_EQ(m.Said(), 1) << text;
  }
}

TEST(MessageStream, SpeechThatFailsOrGivesNoSoundEndsTheMessage) {
  const struct {
    bool starts;
    int16_t level;
    const char* error;
    bool silent;
  } cases[] = {{false, 1000, "cannot run talmery-speak", false}, {true, 0, "the text gave no sound", true}};
  for (const auto& c : cases) {
    MessageStream m(Plan(2, 100000, false), [&](const std::string&, size_t limit, std::string& error) {
      error = "cannot run talmery-speak";
      return c.starts ? std::make_unique<FakeSpeech>(9000, c.level, limit) : nullptr;
    });
    ReadAll(m);
    EXPECT_EQ(m.Error(), c.error);
    EXPECT_EQ(m.Silent(), c.silent);
    EXPECT_EQ(m.Said(), 0);
  }
}

// The feed gives what the stream gives, and is never more than a few seconds ahead of the line
// that takes from it, however long the speech.
TEST(MessageStream, FeedGivesTheMessageAFewSecondsAhead) {
  const size_t speech = 60 * 8000;
  std::atomic<size_t> given{0}, taken{0}, mostAhead{0};
  std::atomic<bool> changed{false};
  MessageFeed feed(
      Plan(1, 100 * 8000, false),
      [&](const std::atomic<bool>&) -> SpeechStarter {
        return [&](const std::string&, size_t limit, std::string&) {
          return std::make_unique<FakeSpeech>(speech, 1000, limit, &given);
        };
      },
      [&] { changed = true; });
  // The feed is told ready after it became so, on its own thread: wait for the word, then look.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!changed && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_TRUE(changed);
  EXPECT_TRUE(feed.Ready());
  std::vector<int16_t> got;
  bool ended = false;
  while (!ended) {
    int16_t packet[160];
    const size_t n = feed.Take(packet, 160, ended);
    got.insert(got.end(), packet, packet + n);
    taken += n;
    mostAhead = std::max<size_t>(mostAhead, given - std::min<size_t>(given, taken));
    if (n == 0) std::this_thread::yield();
  }
  ASSERT_EQ(got.size(), kLead + speech + kTail);
  EXPECT_EQ(got[kLead + 12345], FakeSpeech::Sample(1000, 12345));
  EXPECT_LE(mostAhead, MessageFeed::kAheadSamples + 800);
  EXPECT_TRUE(feed.Finished());
  EXPECT_EQ(feed.Said(), 1);
}

// A message that began late is limited to what is left of the call: it ends there, told as cut.
TEST(MessageStream, FeedLimitedEndsTheMessageThereAsCut) {
  MessageFeed feed(
      Plan(1, 100 * 8000, false),
      [&](const std::atomic<bool>&) -> SpeechStarter {
        return [&](const std::string&, size_t limit, std::string&) {
          return std::make_unique<FakeSpeech>(30 * 8000, 1000, limit, nullptr);
        };
      },
      nullptr);
  while (!feed.Ready()) std::this_thread::yield();
  feed.Limit(5 * 8000 + 7);
  size_t got = 0;
  bool ended = false;
  while (!ended) {
    int16_t packet[160];
    got += feed.Take(packet, 160, ended);
  }
  EXPECT_EQ(got, 5u * 8000 + 7);
  EXPECT_TRUE(feed.Cut());
}

// Once (a mailbox): the first saying and a little silence are the whole message, neither the
// repetition nor the prompt that follow it in the stream; ready as soon as that saying is made.
TEST(MessageStream, FeedOnceEndsAfterTheFirstSaying) {
  for (const bool cut : {false, true}) {
    MessageFeed feed(
        Plan(2, cut ? 16000 : 100 * 8000, true),
        [&](const std::atomic<bool>&) -> SpeechStarter {
          return [&](const std::string& text, size_t limit, std::string&) {
            return text == "prompt" ? std::make_unique<FakeSpeech>(kPrompt, 5000, limit)
                                    : std::make_unique<FakeSpeech>(cut ? 20000 : 9000, 1000, limit);
          };
        },
        nullptr);
    feed.Once(77);
    while (!feed.Ready()) std::this_thread::yield();
    std::vector<int16_t> got;
    bool ended = false;
    while (!ended) {
      int16_t packet[160];
      const size_t n = feed.Take(packet, 160, ended);
      got.insert(got.end(), packet, packet + n);
    }
    const size_t spoken = cut ? 16000 - kLead - kTail - kPrompt : 9000;
    ASSERT_EQ(got.size(), kLead + spoken + 77) << cut;
    EXPECT_EQ(got[kLead + spoken - 1], FakeSpeech::Sample(1000, spoken - 1)) << cut;
    // Silence after it, not the repetition nor the prompt.
    EXPECT_TRUE(std::all_of(got.begin() + kLead + spoken, got.end(), [](int16_t v) { return v == 0; })) << cut;
    EXPECT_EQ(feed.FirstCut(), cut);
  }
}

}  // namespace
}  // namespace talmery
