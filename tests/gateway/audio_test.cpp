// WAV files, the resampler, the composed message and the synthesiser.
#include <gtest/gtest.h>

#include <cmath>

#include "gateway/audio.h"
#include "gateway/speech.h"

namespace talmery {
namespace {

Pcm Tone(int rate, double hz, double seconds, double amplitude = 10000) {
  Pcm p;
  p.rate = rate;
  for (int i = 0; i < static_cast<int>(rate * seconds); ++i)
    p.samples.push_back(static_cast<int16_t>(amplitude * std::sin(2 * 3.14159265358979 * hz * i / rate)));
  return p;
}

double Rms(const Pcm& p, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += static_cast<double>(p.samples[i]) * p.samples[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

TEST(Audio, WavRoundTripAndRefusals) {
  Pcm p;
  p.rate = 8000;
  p.samples = {0, 1, -1, 32767, -32768};
  const std::string bytes = EncodeWav(p);
  ASSERT_EQ(bytes.size(), 44u + 10u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  Pcm back;
  std::string error;
  ASSERT_TRUE(DecodeWav(bytes, back, error)) << error;
  EXPECT_EQ(back.rate, 8000);
  EXPECT_EQ(back.samples, p.samples);

  std::string stereo = bytes;
  stereo[22] = 2;
  EXPECT_FALSE(DecodeWav(stereo, back, error));
  EXPECT_EQ(error, "not 16-bit mono PCM");
  EXPECT_FALSE(DecodeWav("RIFF", back, error));
  EXPECT_EQ(error, "not a WAV file");
  // A recorder stopped hard leaves the data size unpatched: what is there is read.
  std::string unpatched = bytes;
  unpatched[40] = unpatched[41] = unpatched[42] = unpatched[43] = '\xff';
  ASSERT_TRUE(DecodeWav(unpatched, back, error));
  EXPECT_EQ(back.samples, p.samples);
}

TEST(Audio, ResamplingKeepsTheSpeechBandAndDropsWhatIsAbove) {
  const Pcm low = Resample(Tone(22050, 1000, 1), 8000);
  ASSERT_EQ(low.rate, 8000);
  EXPECT_EQ(low.samples.size(), 8000u);
  EXPECT_NEAR(Rms(low, 400, 7600), 10000 / std::sqrt(2.0), 150);  // 1 kHz passes at its level
  // 6 kHz would fold back to 2 kHz at 8000 samples per second; the filter removes it.
  const Pcm high = Resample(Tone(22050, 6000, 1), 8000);
  EXPECT_LT(Rms(high, 400, 7600), 50);
}

TEST(Audio, MessageRepeatsTheSpeechBetweenSilences) {
  Pcm speech;
  speech.samples = {5, 6};
  const Pcm m = ComposeMessage(speech, 2, 1, 1, 1);  // 1 ms = 8 samples
  std::vector<int16_t> expected(8, 0);
  expected.insert(expected.end(), {5, 6});
  expected.insert(expected.end(), 8, 0);
  expected.insert(expected.end(), {5, 6});
  expected.insert(expected.end(), 8, 0);
  EXPECT_EQ(m.samples, expected);
}

// Reference codes of G.711 (as the common C reference encoder gives them): both signs, each
// segment, the clipping at the ends.
TEST(Audio, G711CodesOfBothLaws) {
  const struct {
    int16_t sample;
    uint8_t ulaw, alaw;
  } cases[] = {{0, 0xff, 0xd5},      {1, 0xff, 0xd5},      {-1, 0x7e, 0x55},     {100, 0xf2, 0xd3},
               {-100, 0x72, 0x53},   {1000, 0xce, 0xfa},   {-1000, 0x4e, 0x7a},  {5000, 0xab, 0x86},
               {-5000, 0x2b, 0x06},  {12345, 0x97, 0xbd},  {-12345, 0x17, 0x3d}, {32767, 0x80, 0xaa},
               {-32768, 0x00, 0x2a}};
  for (const auto& c : cases) {
    EXPECT_EQ(LinearToUlaw(c.sample), c.ulaw) << c.sample;
    EXPECT_EQ(LinearToAlaw(c.sample), c.alaw) << c.sample;
  }
}

TEST(Audio, SynthesisGivesTelephoneSpeech) {
  Pcm speech;
  std::string error;
  ASSERT_TRUE(Synthesize("You have an appointment.", Voice(), speech, error)) << error;
  EXPECT_EQ(speech.rate, 8000);
  EXPECT_GT(speech.samples.size(), 8000u / 2);
  EXPECT_GT(Rms(speech, 0, speech.samples.size()), 300);
  Voice none;
  none.name = "xx-nowhere";
  EXPECT_FALSE(Synthesize("x", none, speech, error));
  EXPECT_EQ(error, "espeak-ng has no voice \"xx-nowhere\"");
}

}  // namespace
}  // namespace talmery
