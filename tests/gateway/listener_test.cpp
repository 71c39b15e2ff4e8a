// Who answered and when the line may speak: over the labelled recordings of persons and
// mailboxes (tests/gateway/callee_recordings.h), and over a few sounds made here that isolate one
// part of the analysis (a pure tone, a steady noise, a quiet voice over it).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "gateway/listener.h"
#include "tests/gateway/callee_recordings.h"

namespace talmery {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr size_t kPacket = 160;  // 20 ms

// Feeds `samples` packet by packet until the listener clears the line or the samples end.
void Listen(CalleeListener& listener, const std::vector<int16_t>& samples, size_t packet = kPacket) {
  for (size_t at = 0; at < samples.size() && !listener.ClearToSpeak(); at += packet)
    listener.Feed(samples.data() + at, std::min(packet, samples.size() - at));
}

const std::vector<CalleeRecording>& Recordings() {
  static std::vector<CalleeRecording> recordings;
  static std::string error;
  if (recordings.empty() && error.empty() && !MakeCalleeRecordings(recordings, error)) ADD_FAILURE() << error;
  return recordings;
}

TEST(CalleeListener, TellsEachLabelledCalleeAndWaitsForItsTurn) {
  const std::vector<CalleeRecording>& recordings = Recordings();
  ASSERT_GE(recordings.size(), 30u);
  for (const CalleeRecording& r : recordings) {
    SCOPED_TRACE(r.name);
    CalleeListener listener;
    Listen(listener, r.samples);
    ASSERT_TRUE(listener.ClearToSpeak());
    const long long cleared = listener.ClearedAtMs();
    EXPECT_FALSE(SoundingAt(r, cleared)) << "cleared at " << cleared << " ms while the callee sounds";
    EXPECT_FALSE(listener.GreetingTimedOut());
    if (r.machine) {
      EXPECT_EQ(listener.Who(), Answerer::Machine);
      EXPECT_GE(cleared, r.greetingEndMs);
      if (r.toneEndMs >= 0) {
        EXPECT_TRUE(listener.ToneHeard());
        EXPECT_GE(cleared, r.toneEndMs);
        EXPECT_LE(cleared, r.toneEndMs + 200);
      } else {
        EXPECT_FALSE(listener.ToneHeard());
        EXPECT_LE(cleared, r.greetingEndMs + ListenTimings{}.machineSilenceMs + 200);
      }
    } else {
      EXPECT_EQ(listener.Who(), Answerer::Person);
      EXPECT_FALSE(listener.ToneHeard());
      const long long lastWord = LastSpeechEndBefore(r, cleared);
      if (r.lastWordEndMs < 0) {
        EXPECT_EQ(cleared, ListenTimings{}.initialSilenceMs);
        EXPECT_EQ(listener.LastWordEndMs(), -1);
      } else {
        ASSERT_GE(lastWord, 0) << "cleared at " << cleared << " ms before the person spoke";
        EXPECT_LE(cleared - lastWord, 1000) << "cleared at " << cleared << " ms, last word ended at " << lastWord;
        EXPECT_NEAR(listener.LastWordEndMs(), lastWord, 100);
      }
    }
  }
}

std::vector<int16_t> Quiet(int ms) { return std::vector<int16_t>(size_t(ms) * 8, 0); }

void Append(std::vector<int16_t>& line, const std::vector<int16_t>& more) { line.insert(line.end(), more.begin(), more.end()); }

void AddTone(std::vector<int16_t>& line, double hz, int ms, double amplitude) {
  for (int i = 0; i < ms * 8; ++i) line.push_back(int16_t(amplitude * std::sin(2 * kPi * hz * i / 8000)));
}

// A voice-like sound of the given rms: the harmonics of a pitch that glides, within the
// telephone's band (as a line carries a voice), in syllables of 200 ms.
void AddVoice(std::vector<int16_t>& line, int ms, double rms) {
  std::vector<double> voice;
  double phase = 0, sum = 0;
  for (int i = 0; i < ms * 8; ++i) {
    const double t = i / 8000.0;
    phase += 2 * kPi * (120 + 30 * std::sin(2 * kPi * 1.5 * t)) / 8000;
    double v = 0;
    for (int h = 3; h <= 20; ++h) v += std::sin(h * phase) / std::sqrt(h);
    voice.push_back(v * (0.7 + 0.3 * std::cos(2 * kPi * 5 * t)));
    sum += voice.back() * voice.back();
  }
  const double scale = rms / std::sqrt(sum / voice.size());
  for (double v : voice) line.push_back(int16_t(std::lround(v * scale)));
}

void AddNoise(std::vector<int16_t>& line, double rms, uint32_t seed) {
  for (int16_t& s : line) {
    double sum = 0;
    for (int k = 0; k < 6; ++k) {
      seed = seed * 1664525u + 1013904223u;
      sum += (seed >> 8) / 16777216.0;
    }
    s = int16_t(std::lround(std::fmax(-32768, std::fmin(32767, s + rms * (sum - 3) * std::sqrt(2.0)))));
  }
}

// The analysis runs on its own frames: how the line cuts the audio into packets changes nothing.
TEST(CalleeListener, PacketSizesDoNotMatter) {
  std::vector<int16_t> machine = Quiet(500), person = Quiet(700);
  AddVoice(machine, 2000, 3000);
  Append(machine, Quiet(400));
  AddVoice(machine, 1500, 3000);
  Append(machine, Quiet(700));
  AddTone(machine, 1000, 500, 8000);
  Append(machine, Quiet(3000));
  AddNoise(machine, 100, 21);
  AddVoice(person, 600, 3000);
  Append(person, Quiet(3000));
  AddNoise(person, 100, 23);
  for (const std::vector<int16_t>* line : {&machine, &person}) {
    CalleeListener byPackets, bySamples, oddly;
    Listen(byPackets, *line);
    Listen(bySamples, *line, 1);
    Listen(oddly, *line, 237);
    ASSERT_TRUE(byPackets.ClearToSpeak());
    EXPECT_EQ(byPackets.Who(), line == &machine ? Answerer::Machine : Answerer::Person);
    EXPECT_EQ(bySamples.ClearedAtMs(), byPackets.ClearedAtMs());
    EXPECT_EQ(oddly.ClearedAtMs(), byPackets.ClearedAtMs());
    EXPECT_EQ(bySamples.LastWordEndMs(), byPackets.LastWordEndMs());
    EXPECT_EQ(oddly.LastWordEndMs(), byPackets.LastWordEndMs());
    EXPECT_EQ(bySamples.Who(), byPackets.Who());
    EXPECT_EQ(oddly.Who(), byPackets.Who());
    EXPECT_EQ(oddly.ToneHeard(), byPackets.ToneHeard());
  }
}

// A steady tone in the mailboxes' band is a tone; outside it, or a voice, is not.
TEST(CalleeListener, PureToneAtFrequencies) {
  const struct {
    double hz;
    int ms;
    bool tone;
  } cases[] = {{420, 500, true}, {1000, 300, true}, {1333, 1500, true}, {1990, 400, true},
               {250, 500, false}, {3000, 500, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hz);
    std::vector<int16_t> line = Quiet(600);
    AddTone(line, c.hz, c.ms, 8000);
    const std::vector<int16_t> after = Quiet(4000);
    line.insert(line.end(), after.begin(), after.end());
    AddNoise(line, 30, 7);
    CalleeListener listener;
    Listen(listener, line);
    ASSERT_TRUE(listener.ClearToSpeak());
    EXPECT_EQ(listener.ToneHeard(), c.tone);
    EXPECT_EQ(listener.Who(), c.tone ? Answerer::Machine : Answerer::Person);
    if (c.tone) {
      EXPECT_GE(listener.ClearedAtMs(), 600 + c.ms);
      EXPECT_LE(listener.ClearedAtMs(), 600 + c.ms + 100);
    }
  }
  std::vector<int16_t> voice = Quiet(500);
  AddVoice(voice, 1500, 3000);
  const std::vector<int16_t> after = Quiet(4000);
  voice.insert(voice.end(), after.begin(), after.end());
  CalleeListener listener;
  Listen(listener, voice);
  EXPECT_EQ(listener.Who(), Answerer::Person);
  EXPECT_FALSE(listener.ToneHeard());
}

// A steady noise, loud or faint, is not voice; a quiet voice 10 dB over it is, however loud
// the noise.
TEST(CalleeListener, NoiseFloorFollowsTheLine) {
  for (double noise : {20.0, 300.0, 2000.0}) {
    SCOPED_TRACE(noise);
    std::vector<int16_t> line = Quiet(8000);
    AddNoise(line, noise, 3);
    CalleeListener silent;
    Listen(silent, line);
    EXPECT_EQ(silent.Who(), Answerer::Person);
    EXPECT_EQ(silent.ClearedAtMs(), 2500);
    EXPECT_EQ(silent.LastWordEndMs(), -1);

    std::vector<int16_t> spoken = Quiet(1000);
    AddVoice(spoken, 600, noise * 3.2);
    const std::vector<int16_t> after = Quiet(4000);
    spoken.insert(spoken.end(), after.begin(), after.end());
    AddNoise(spoken, noise, 5);
    CalleeListener heard;
    Listen(heard, spoken);
    EXPECT_EQ(heard.Who(), Answerer::Person);
    EXPECT_NEAR(heard.LastWordEndMs(), 1600, 60);
    EXPECT_NEAR(heard.ClearedAtMs(), 1600 + 800, 60);
  }
}

// Lost packets are fed as silence: on a noisy line they are no pause, and they do not pull the
// floor down so that the noise would become voice.
TEST(CalleeListener, LostPacketsAreNoVoice) {
  std::vector<int16_t> line = Quiet(8000);
  AddNoise(line, 500, 11);
  for (size_t p = 3; p * kPacket < line.size(); p += 10)
    std::fill(line.begin() + long(p * kPacket), line.begin() + long((p + 1) * kPacket), int16_t(0));
  CalleeListener listener;
  Listen(listener, line);
  EXPECT_EQ(listener.Who(), Answerer::Person);
  EXPECT_EQ(listener.ClearedAtMs(), 2500);
  CalleeListener none;
  for (int i = 0; i < 200; ++i) none.Feed(nullptr, kPacket);
  EXPECT_EQ(none.HeardMs(), 4000);
  EXPECT_EQ(none.Who(), Answerer::Person);
}

// A voice that never pauses is a machine; the line waits for its end at most greetingWaitMs.
TEST(CalleeListener, EndlessSoundTimesOut) {
  ListenTimings timings;
  timings.greetingWaitMs = 9000;
  std::vector<int16_t> line = Quiet(300);
  for (int i = 0; i < 30; ++i) {  // syllables with gaps too short for a pause between words
    AddVoice(line, 400, 3000);
    const std::vector<int16_t> gap = Quiet(80);
    line.insert(line.end(), gap.begin(), gap.end());
  }
  AddNoise(line, 30, 9);
  CalleeListener listener(timings);
  Listen(listener, line);
  EXPECT_EQ(listener.Who(), Answerer::Machine);
  EXPECT_TRUE(listener.GreetingTimedOut());
  EXPECT_EQ(listener.ClearedAtMs(), 9000);
}

// Still undecided at totalMs: not sure who, spoken to as a person once they fall silent.
TEST(CalleeListener, UndecidedByTheTotalIsNotSure) {
  ListenTimings timings;
  timings.totalMs = 1500;
  std::vector<int16_t> line = Quiet(1000);
  AddVoice(line, 1200, 3000);
  const std::vector<int16_t> after = Quiet(3000);
  line.insert(line.end(), after.begin(), after.end());
  AddNoise(line, 30, 13);
  CalleeListener listener(timings);
  Listen(listener, line);
  EXPECT_EQ(listener.Who(), Answerer::NotSure);
  EXPECT_NEAR(listener.LastWordEndMs(), 2200, 60);
  EXPECT_EQ(listener.ClearedAtMs(), listener.LastWordEndMs() + timings.afterGreetingMs);
}

TEST(CalleeListener, AnswererNames) {
  EXPECT_STREQ(AnswererName(Answerer::Person), "a person");
  EXPECT_STREQ(AnswererName(Answerer::Machine), "a machine");
  EXPECT_STREQ(AnswererName(Answerer::NotSure), "not sure who");
}

}  // namespace
}  // namespace talmery
