// The check of a recorded call: the spoken text, sent through G.711, delayed, with a few
// milliseconds lost or added mid-speech, passes; silence, noise, another sentence, gaps or a
// cut-off recording do not.
#include <gtest/gtest.h>

#include <random>

#include "gateway/audio.h"
#include "gateway/speech.h"
#include "tools/phone/speech_match.h"

namespace phone {
namespace {

talmery::Pcm Speak(const std::string& text) {
  talmery::Pcm p;
  std::string error;
  EXPECT_TRUE(talmery::Synthesize(text, talmery::Voice(), p, error)) << error;
  return p;
}

// What the phone records: silence, the speech, a pause, the speech, through G.711.
talmery::Pcm Call(const talmery::Pcm& speech, int leadSamples) {
  talmery::Pcm rec = talmery::ComposeMessage(speech, 2, 0, 1000, 500);
  rec.samples.insert(rec.samples.begin(), static_cast<size_t>(leadSamples), 0);
  for (int16_t& v : rec.samples) v = talmery::UlawToLinear(talmery::LinearToUlaw(v));  // as the call carries it
  return rec;
}

TEST(SpeechMatch, TheSpokenTextIsFoundTwiceWhereverItStarts) {
  const talmery::Pcm speech = Speak("Reminder number one.");
  const talmery::Pcm rec = Call(speech, 4321);
  std::string report;
  EXPECT_TRUE(RecordingCarries(rec, speech, 2, report)) << report;
  const auto found = FindSpeech(rec, speech, 2);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(std::min(found[0].lag, found[1].lag), 4321);
  EXPECT_GT(found[0].correlation, 0.99);

  // A sender's buffers under load drop 13 ms in one repetition and add 6 ms in the other.
  talmery::Pcm slipped = rec;
  const size_t mid = 4321 + speech.samples.size() / 2;
  slipped.samples.erase(slipped.samples.begin() + static_cast<long>(mid), slipped.samples.begin() + static_cast<long>(mid) + 104);
  slipped.samples.insert(slipped.samples.begin() + static_cast<long>(mid + speech.samples.size() + 8000), 48, 0);
  EXPECT_TRUE(RecordingCarries(slipped, speech, 2, report)) << report;
}

TEST(SpeechMatch, SilenceNoiseAnotherTextOrAGapFail) {
  const talmery::Pcm speech = Speak("Reminder number one.");
  const talmery::Pcm good = Call(speech, 800);
  talmery::Pcm silence = good, noise = good, gap = good, cut = good;
  for (int16_t& v : silence.samples) v = 0;
  std::mt19937 random(7);
  std::normal_distribution<double> gauss(0, 3000);
  for (int16_t& v : noise.samples) v = static_cast<int16_t>(gauss(random));
  // 200 ms lost in each repetition.
  for (size_t i = 800 + speech.samples.size() / 2, n = 0; n < 1600; ++i, ++n) gap.samples[i] = 0;
  for (size_t i = 800 + speech.samples.size() + 8000 + speech.samples.size() / 2, n = 0; n < 1600; ++i, ++n)
    gap.samples[i] = 0;
  cut.samples.resize(800 + speech.samples.size() + 8000 + speech.samples.size() / 2);
  const talmery::Pcm other = Call(Speak("Reminder number two."), 800);

  const struct {
    const char* name;
    const talmery::Pcm& rec;
  } cases[] = {{"silence", silence}, {"noise", noise}, {"another text", other}, {"gaps", gap}, {"cut off", cut}};
  for (const auto& c : cases) {
    std::string report;
    EXPECT_FALSE(RecordingCarries(c.rec, speech, 2, report)) << c.name << "\n" << report;
  }
}

}  // namespace
}  // namespace phone
