// WAV files, the resampler, the composed message and the synthesiser.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <memory>

#include "gateway/audio.h"
#include "gateway/ear_text.h"
#include "gateway/speech.h"
#include "tests/gateway/temp_dir.h"

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

// Speech arrives in pieces of any size; the pieces joined are the whole resampled at once.
TEST(Audio, ResamplingInPiecesGivesTheWhole) {
  Pcm in = Tone(22050, 440, 0.5);
  for (size_t i = 0; i < in.samples.size(); i += 97) in.samples[i] = static_cast<int16_t>(i * 31 % 20000);
  const Pcm whole = Resample(in, 8000);
  for (size_t piece : {size_t{1}, size_t{7}, size_t{441}, size_t{5000}}) {
    Resampler resampler(22050, 8000);
    std::vector<int16_t> out;
    for (size_t at = 0; at < in.samples.size(); at += piece)
      resampler.Push(&in.samples[at], std::min(piece, in.samples.size() - at), out);
    resampler.Finish(out);
    EXPECT_TRUE(out == whole.samples) << "pieces of " << piece << ": " << out.size() << " of " << whole.samples.size();
  }
}

TEST(Audio, WavWriterWritesAsItGoesAndLeavesNothingHalfDone) {
  gwtest::TempDir dir;
  const std::string path = dir.path() + "/m.wav";
  std::string error;
  {
    WavWriter wav;
    ASSERT_TRUE(wav.Open(path, 8000, error)) << error;
    const int16_t a[] = {1, -2, 3}, b[] = {32767, -32768};
    ASSERT_TRUE(wav.Append(a, 3, error) && wav.Append(b, 2, error)) << error;
    ASSERT_TRUE(wav.Close(error)) << error;
  }
  Pcm back;
  ASSERT_TRUE(ReadWavFile(path, back, error)) << error;
  EXPECT_EQ(back.samples, (std::vector<int16_t>{1, -2, 3, 32767, -32768}));
  {
    WavWriter dropped;
    ASSERT_TRUE(dropped.Open(dir.path() + "/n.wav", 8000, error));
  }
  EXPECT_NE(access((dir.path() + "/n.wav.part").c_str(), F_OK), 0);
  EXPECT_NE(access((dir.path() + "/n.wav").c_str(), F_OK), 0);
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
  // A-law decoded (the callee's audio): each code to the middle of its step, and back to itself.
  EXPECT_EQ(AlawToLinear(0xd5), 8);
  EXPECT_EQ(AlawToLinear(0xaa), 32256);
  EXPECT_EQ(AlawToLinear(0x2a), -32256);
  for (int code = 0; code < 256; ++code) EXPECT_EQ(LinearToAlaw(AlawToLinear(static_cast<uint8_t>(code))), code) << code;
}

// Decoding gives each code's value (the ends of the range, both zeros), and encoding that value
// gives the code again: only the negative zero comes back as the positive one.
TEST(Audio, UlawDecodesToTheValueItsCodeStandsFor) {
  EXPECT_EQ(UlawToLinear(0x80), 32124);
  EXPECT_EQ(UlawToLinear(0x00), -32124);
  EXPECT_EQ(UlawToLinear(0xff), 0);
  EXPECT_EQ(UlawToLinear(0x7f), 0);
  EXPECT_EQ(UlawToLinear(0xf2), 104);  // the middle of the step 100 falls in
  EXPECT_EQ(UlawToLinear(0x4e), -988);
  for (int code = 0; code < 256; ++code)
    EXPECT_EQ(LinearToUlaw(UlawToLinear(static_cast<uint8_t>(code))), code == 0x7f ? 0xff : code) << code;
}

TEST(Audio, SynthesisGivesTelephoneSpeech) {
  Pcm speech;
  std::string error;
  ASSERT_TRUE(Synthesize("You have an appointment.", Voice(), speech, error)) << error;
  EXPECT_EQ(speech.rate, 8000);
  EXPECT_GT(speech.samples.size(), 8000u / 2);
  EXPECT_GT(Rms(speech, 0, speech.samples.size()), 300);
}

// Every voice there is speaks through the helper: telephone-rate samples, loud enough to be
// heard, as long as the sentence takes at that pace. The engines' own rates differ (espeak-ng
// 22 kHz, flite's kal 8 kHz, its other voices 16 kHz): all reach the line at 8 kHz.
TEST(Speech, EachVoiceSpeaksAtTheTelephoneRate) {
  const char* const voices[] = {"en", "espeak-ng:en", "espeak-ng:de", "flite:awb", "flite:kal",
                                "flite:kal16", "flite:rms", "flite:slt"};
  for (const char* name : voices) {
    Pcm speech;
    std::string error;
    ASSERT_TRUE(Synthesize("The budget review is at nine thirty in room four.", Voice{name, 150}, speech, error))
        << name << ": " << error;
    EXPECT_EQ(speech.rate, 8000) << name;
    // Ten words at 150 a minute: some four seconds, give or take each engine's pauses.
    EXPECT_GT(speech.samples.size(), 8000u * 2) << name;
    EXPECT_LT(speech.samples.size(), 8000u * 8) << name;
    EXPECT_GT(Rms(speech, 0, speech.samples.size()), 300) << name;
    EXPECT_TRUE(CheckVoice(name, error)) << name << ": " << error;
  }
}

// Every voice is paced so that a reminder's text takes no longer than max_message_seconds
// reckons (SpokenSeconds), and not much less: the estimate is what a long text is cut by.
TEST(Speech, EachVoiceTakesAboutTheTimeReckonedForTheText) {
  const std::string text =
      "You have an appointment coming up in 15 minutes. The appointment subject is: Budget review with "
      "the finance team. The appointment location is: Room B, 2 0 4, 2nd floor.";
  const double reckoned = SpokenSeconds(text, 150);
  for (const char* name : {"en", "flite:awb", "flite:kal", "flite:kal16", "flite:rms", "flite:slt"}) {
    Pcm speech;
    std::string error;
    ASSERT_TRUE(Synthesize(text, Voice{name, 150}, speech, error)) << name << ": " << error;
    const double seconds = static_cast<double>(speech.samples.size()) / speech.rate;
    EXPECT_LE(seconds, reckoned) << name;  // (rms took 15.0 s when flite had one pace for all)
    EXPECT_GE(seconds, reckoned * 0.8) << name;
  }
}

// speech_rate paces flite too: the same text at twice the rate takes clearly less time.
TEST(Speech, FliteFollowsTheSpeechRate) {
  Pcm slow, fast;
  std::string error;
  const std::string text = "The budget review is at nine thirty in room four with the auditors.";
  ASSERT_TRUE(Synthesize(text, Voice{"flite:rms", 120}, slow, error)) << error;
  ASSERT_TRUE(Synthesize(text, Voice{"flite:rms", 240}, fast, error)) << error;
  EXPECT_LT(fast.samples.size() * 10, slow.samples.size() * 7);
}

TEST(Speech, VoiceNamesEngineAndVoice) {
  const struct {
    const char* voice;
    VoiceName::Engine engine;
    const char* name;
  } cases[] = {{"en", VoiceName::Espeak, "en"},           {"de", VoiceName::Espeak, "de"},
               {"en-GB-x-rp", VoiceName::Espeak, "en-GB-x-rp"}, {"espeak-ng:de", VoiceName::Espeak, "de"},
               {"flite:rms", VoiceName::Flite, "rms"},    {"flite:", VoiceName::Flite, ""},
               {"festival:slt", VoiceName::Unknown, "festival:slt"}};
  for (const auto& c : cases) {
    const VoiceName parsed = ParseVoiceName(c.voice);
    EXPECT_EQ(parsed.engine, c.engine) << c.voice;
    EXPECT_EQ(parsed.name, c.name) << c.voice;
  }
}

TEST(Speech, UnknownVoiceMessageListsTheVoices) {
  EXPECT_EQ(UnknownVoiceMessage("flite:zz", {"de", "en"}),
            "voice: \"flite:zz\" is not a voice here; the voices are flite:awb, flite:kal, flite:kal16, flite:rms, "
            "flite:slt, and espeak-ng:NAME (or NAME alone) for its languages: de, en");
  EXPECT_EQ(UnknownVoiceMessage("a\x01", {}),
            "voice: \"a\\x01\" is not a voice here; the voices are flite:awb, flite:kal, flite:kal16, flite:rms, "
            "flite:slt, and espeak-ng:NAME (or NAME alone) for its languages");
}

// A voice that is not there stops the start with the list of those that are, espeak-ng's read
// from its installed data; speaking with one fails the same way.
TEST(Speech, UnknownVoicesAreRefusedWithTheList) {
  const std::string listed = " is not a voice here; the voices are flite:awb, flite:kal, flite:kal16, flite:rms, "
                             "flite:slt, and espeak-ng:NAME (or NAME alone) for its languages: ";
  for (const char* name : {"xx-nowhere", "espeak-ng:xx-nowhere", "flite:zz", "flite:", "espeak-ng:", "festival:slt", ""}) {
    std::string error;
    EXPECT_FALSE(CheckVoice(name, error)) << name;
    EXPECT_EQ(error.substr(0, 7 + std::string(name).size() + 2 + listed.size()),
              "voice: \"" + std::string(name) + "\"" + listed) << error;
    EXPECT_NE(error.find(": af, "), std::string::npos) << error;
    EXPECT_NE(error.find(", de, "), std::string::npos) << error;
    EXPECT_NE(error.find(", en, "), std::string::npos) << error;
    Pcm speech;
    std::string spoken;
    EXPECT_FALSE(Synthesize("x", Voice{name, 150}, speech, spoken)) << name;
    EXPECT_EQ(spoken, error);
  }
}

}  // namespace
}  // namespace talmery

namespace talmery {
namespace {

// talmery-speak as the gateway runs it, for its exit status, what it wrote and its peak memory.
struct HelperRun {
  int status = -1;
  size_t bytes = 0;
  long peakKb = 0;
};

HelperRun RunHelper(const std::string& text, size_t limit, std::string voice = "en") {
  HelperRun run;
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return run;
  std::string program = SpeakProgram(), rate = "150", max = std::to_string(limit);
  char* argv[] = {program.data(), voice.data(), rate.data(), max.data(), nullptr};
  const pid_t pid = fork();
  if (pid == 0) {
    // AddressSanitizer holds freed memory back for a while (256 MB of it), and flite frees each
    // sentence's utterance after speaking it: without this the peak would be the quarantine's.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "quarantine_size_mb=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    execv(argv[0], argv);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  for (size_t at = 0; at < text.size();) {
    const ssize_t n = write(in[1], text.data() + at, text.size() - at);
    if (n <= 0) break;
    at += static_cast<size_t>(n);
  }
  close(in[1]);
  char buffer[65536];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) run.bytes += static_cast<size_t>(n);
  close(out[0]);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.peakKb = usage.ru_maxrss;
  return run;
}

// A 64 KB text is hours of speech: the helper makes only what it is asked for (two minutes here)
// and writes it as it goes, so its memory is that of a one-line text, give or take a few MB.
TEST(Speech, HelperMakesOnlyItsLimitInLittleMemory) {
  const std::string sentence = "The quarterly budget review meets in room four with the auditors. ";
  std::string text;
  while (text.size() + sentence.size() <= 64 * 1024) text += sentence;
  // flite makes its speech a sentence at a time; a text with no sentence end is cut in pieces
  // at blanks all the same.
  std::string unbroken = text;
  std::replace(unbroken.begin(), unbroken.end(), '.', ',');
  const struct {
    const char* voice;
    const std::string* text;
  } cases[] = {{"en", &text}, {"flite:kal", &text}, {"flite:kal16", &text}, {"flite:kal16", &unbroken}};
  for (const auto& c : cases) {
    const HelperRun small = RunHelper("Budget review.", 0, c.voice);
    ASSERT_EQ(small.status, 0) << c.voice;
    const size_t limit = 120 * kPhoneRate;
    const HelperRun large = RunHelper(*c.text, limit, c.voice);
    EXPECT_EQ(large.status, 4) << c.voice;             // cut at its limit
    EXPECT_EQ(large.bytes, 1 + limit * 2) << c.voice;  // its mark, then exactly the samples asked for
    std::printf("talmery-speak %s peak memory: %ld KB for a line, %ld KB for 64 KB of text (two minutes made)\n",
                c.voice, small.peakKb, large.peakKb);
    // (the whole text's speech would be hundreds of MB; a few MB are the engines' and the
    // sanitizer's own caches as they warm up)
    EXPECT_LT(large.peakKb - small.peakKb, 8 * 1024) << c.voice;
  }
}

// Through StartSpeech as a call uses it, with each engine: a text of hours gives its first
// second at once and exactly the samples the call can play (then "cut"); a call that stops
// while the helper still speaks ends the helper and says so.
TEST(Speech, StreamedCutAtTheCallsLimitAndStopped) {
  const std::string sentence = "The quarterly budget review meets in room four with the auditors. ";
  std::string text;
  while (text.size() + sentence.size() <= 64 * 1024) text += sentence;
  for (const char* voice : {"en", "flite:kal16", "flite:rms"}) {
    std::string error;
    std::unique_ptr<SpeechSource> limited = StartSpeech(text, Voice{voice, 150}, 3 * kPhoneRate, nullptr, error);
    ASSERT_TRUE(limited) << voice << ": " << error;
    int16_t buffer[4096];
    size_t total = 0;
    for (size_t n; (n = limited->Read(buffer, 4096)) > 0;) total += n;
    bool cut = false;
    EXPECT_TRUE(limited->Ended(cut, error)) << voice << ": " << error;
    EXPECT_TRUE(cut) << voice;
    EXPECT_EQ(total, 3u * kPhoneRate) << voice;

    std::atomic<bool> stop{false};
    std::unique_ptr<SpeechSource> stopped = StartSpeech(text, Voice{voice, 150}, 0, &stop, error);
    ASSERT_TRUE(stopped) << voice << ": " << error;
    total = 0;
    for (size_t n; total < kPhoneRate && (n = stopped->Read(buffer, 4096)) > 0;) total += n;
    EXPECT_GE(total, size_t{kPhoneRate}) << voice;
    stop = true;
    EXPECT_EQ(stopped->Read(buffer, 4096), 0u) << voice;
    EXPECT_FALSE(stopped->Ended(cut, error)) << voice;
    EXPECT_EQ(error, "stopped") << voice;
  }
}

// espeak-ng takes 0x01 as the start of a command ("0A": volume nothing): a text with one speaks
// to its end all the same.
TEST(Speech, ControlCharactersDoNotReachTheEngine) {
  for (const char* voice : {"en", "flite:rms"}) {
    Pcm speech;
    std::string error;
    ASSERT_TRUE(Synthesize("Hello \x01" "0A there, the budget review is at noon in room four.", Voice{voice, 150}, speech,
                           error))
        << voice << ": " << error;
    const size_t half = speech.samples.size() / 2;
    EXPECT_GT(Rms(speech, half, half + 8000), 300) << voice;
  }
}

// The helper speaks the text as written for the ear: a join link is heard as "a link", and a
// text of nothing but separator lines gives no sound at all.
TEST(Speech, HelperSpeaksTheTextForTheEar) {
  Pcm written, plain;
  std::string error;
  ASSERT_TRUE(Synthesize("See https://meet.example.com/l/meetup-join/19%3ameeting_ABCDEF%40thread?context=%7b%22Tid%22\n"
                         "____________________",
                         Voice(), written, error))
      << error;
  ASSERT_TRUE(Synthesize("See a link.", Voice(), plain, error)) << error;
  EXPECT_EQ(written.samples, plain.samples);
  Pcm marks;
  if (Synthesize("--------\n====\n* * *", Voice(), marks, error)) {
    int peak = 0;
    for (int16_t s : marks.samples) peak = std::max(peak, std::abs(int{s}));
    EXPECT_LT(peak, 100);
  }
}

}  // namespace
}  // namespace talmery
