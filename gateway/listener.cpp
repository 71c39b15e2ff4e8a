#include "gateway/listener.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace talmery {
namespace {

constexpr int kFrameMs = 10;
constexpr double kPi = 3.14159265358979323846;

// Energies are mean squares of 16-bit samples. Below kQuiet a frame holds no information about
// the line's noise (digital silence, a lost packet); below kVoiceLeast nothing is voice, however
// quiet the line.
constexpr double kQuiet = 4.0 * 4.0;
constexpr double kVoiceLeast = 30.0 * 30.0;
// A voice stands this far above the floor. The floor (the least energy of recent seconds) lies
// some 2-3 dB under the mean of a steady noise, so this is about 3 dB over the noise itself:
// the quiet parts of speech on a noisy line still count, so that a greeting is not broken into
// pieces with pauses between them; a word needs two such frames in a row (a noise's own peaks
// come alone; 3 dB let a comfort noise through).
constexpr double kVoiceOverFloor = 4.0;  // 6 dB
// ...and a word rises this far over it somewhere: a noise that swells (a comfort noise's level
// steps) stays under it, while a word's loud parts, even on a noisy line, do not.
constexpr double kWordPeakOverFloor = 8.0;  // 9 dB
constexpr int kFloorBlockFrames = 30;    // 300 ms a block, ten blocks: the floor of 3 s

// Sounds closer than this are one word (the stops inside a word, the joins between words spoken
// together); a longer gap is a pause between words.
constexpr int kWordGapMs = 150;

// A tone: this share of the band's energy lies within two bins (of 31.25 Hz) of one peak, at one
// frequency (a bin of drift between frames), for kToneConfirmMs. A voice's energy spreads over
// its harmonics, and its pitch moves.
constexpr double kTonal = 0.80;
constexpr int kToneConfirmMs = 250;
constexpr int kToneMisses = 6;        // frames a tone may lose in noise or to a packet lost
constexpr int kBandLow = 10;          // 312 Hz: below lie the line's hum and its harmonics
constexpr int kBandHigh = 108;        // 3375 Hz: the telephone band's top
constexpr int kToneLow = 12;          // 375 Hz
constexpr int kToneHigh = 66;         // 2062 Hz

// The tables of the spectrum, computed once for every listener (no allocation).
struct Tables {
  static constexpr int kN = 256;
  float hann[kN];
  float cosine[kN / 2], sine[kN / 2];
  uint8_t reversed[kN];
  Tables() {
    for (int i = 0; i < kN; ++i) hann[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * kPi * i / kN));
    for (int i = 0; i < kN / 2; ++i) {
      cosine[i] = static_cast<float>(std::cos(2 * kPi * i / kN));
      sine[i] = static_cast<float>(-std::sin(2 * kPi * i / kN));
    }
    for (int i = 0; i < kN; ++i) {
      int r = 0;
      for (int b = 0; b < 8; ++b)
        if (i & (1 << b)) r |= 1 << (7 - b);
      reversed[i] = static_cast<uint8_t>(r);
    }
  }
};

const Tables& SpectrumTables() {
  static const Tables tables;
  return tables;
}

int Clamp(int value, int low, int high) { return std::min(std::max(value, low), high); }

}  // namespace

CalleeListener::CalleeListener(const ListenTimings& timings) : t_(timings) {
  static_assert(kWindow == Tables::kN, "the window is the spectrum's length");
  // Whatever the settings say, the analysis stays within sense (the config checks its ranges;
  // this keeps a caller's odd values from odd arithmetic).
  constexpr int kMost = 3600 * 1000;
  t_.initialSilenceMs = Clamp(t_.initialSilenceMs, 0, kMost);
  t_.greetingMs = Clamp(t_.greetingMs, 0, kMost);
  t_.afterGreetingMs = Clamp(t_.afterGreetingMs, 0, kMost);
  t_.minWordMs = Clamp(t_.minWordMs, 0, kMost);
  t_.maxWordMs = Clamp(t_.maxWordMs, t_.minWordMs, kMost);
  t_.maxWords = Clamp(t_.maxWords, 0, 100000);
  t_.totalMs = Clamp(t_.totalMs, 0, kMost);
  t_.machineSilenceMs = Clamp(t_.machineSilenceMs, 0, kMost);
  t_.greetingWaitMs = Clamp(t_.greetingWaitMs, 0, kMost);
  SpectrumTables();  // built here rather than on the media thread's first voice
  // A second-order high-pass at 250 Hz (Butterworth): the line's hum and the rumble of its noise
  // lie below the voice's band and would only raise the floor's spread.
  const double w = 2 * kPi * 250 / 8000, alpha = std::sin(w) / std::sqrt(2.0), a0 = 1 + alpha;
  hp_[0] = (1 + std::cos(w)) / 2 / a0;
  hp_[1] = -(1 + std::cos(w)) / a0;
  hp_[2] = hp_[0];
  hp_[3] = -2 * std::cos(w) / a0;
  hp_[4] = (1 - alpha) / a0;
}

void CalleeListener::Feed(const int16_t* samples, size_t count) {
  if (clearedAtMs_ >= 0) {  // decided and cleared: nothing more to tell
    samples_ += static_cast<long long>(count);
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    pending_[pendingCount_++] = samples ? samples[i] : 0;  // none given: silence, as for a lost packet
    ++samples_;
    if (pendingCount_ == kFrame) {
      Frame();
      pendingCount_ = 0;
    }
  }
}

void CalleeListener::Frame() {
  std::memmove(window_, window_ + kFrame, sizeof(float) * (kWindow - kFrame));
  double sum = 0, rawSum = 0;
  double& x1 = hpState_[0];
  double& x2 = hpState_[1];
  double& y1 = hpState_[2];
  double& y2 = hpState_[3];
  for (int i = 0; i < kFrame; ++i) {
    const double x = pending_[i];
    rawSum += x * x;
    const double s = hp_[0] * x + hp_[1] * x1 + hp_[2] * x2 - hp_[3] * y1 - hp_[4] * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = s;
    window_[kWindow - kFrame + i] = static_cast<float>(s);
    sum += s * s;
  }
  const double energy = sum / kFrame;
  ++frames_;
  Classify(energy);

  // The floor after the frame was judged against it: the least of 20 ms energies (two frames,
  // which halves the spread of a noise's frames), leaving out frames with nothing in them (a
  // lost packet, and the filter's fading echo of the sound before it).
  const bool empty = rawSum / kFrame < kQuiet;
  const double smooth = lastEnergy_ < 0 ? energy : (energy + lastEnergy_) / 2;
  if (!empty && !lastEmpty_ && smooth >= kQuiet && (blockLeast_ < 0 || smooth < blockLeast_)) blockLeast_ = smooth;
  lastEnergy_ = energy;
  lastEmpty_ = empty;
  if (++blockFrames_ == kFloorBlockFrames) {
    if (blockLeast_ >= 0) {
      blockMin_[blockAt_] = blockLeast_;
      blockAt_ = (blockAt_ + 1) % kFloorBlocks;
      blocks_ = std::min(blocks_ + 1, kFloorBlocks);
    }
    blockLeast_ = -1;
    blockFrames_ = 0;
  }
  double least = blockLeast_;
  for (int b = 0; b < blocks_; ++b)
    if (least < 0 || blockMin_[b] < least) least = blockMin_[b];
  floor_ = least < 0 ? kQuiet : least;

  Decide();
}

// The share of the band's energy at the strongest frequency between kToneLow and kToneHigh.
double CalleeListener::Tonality(int& peakBin) {
  const Tables& tables = SpectrumTables();
  float re[kWindow], im[kWindow];
  for (int i = 0; i < kWindow; ++i) {
    re[tables.reversed[i]] = window_[i] * tables.hann[i];
    im[tables.reversed[i]] = 0;
  }
  for (int size = 2; size <= kWindow; size *= 2) {
    const int half = size / 2, step = kWindow / size;
    for (int start = 0; start < kWindow; start += size) {
      for (int k = 0; k < half; ++k) {
        const float wr = tables.cosine[k * step], wi = tables.sine[k * step];
        const int a = start + k, b = a + half;
        const float tr = re[b] * wr - im[b] * wi, ti = re[b] * wi + im[b] * wr;
        re[b] = re[a] - tr;
        im[b] = im[a] - ti;
        re[a] += tr;
        im[a] += ti;
      }
    }
  }
  double power[kBandHigh + 1];
  double total = 0;
  for (int k = kBandLow; k <= kBandHigh; ++k) {
    power[k] = static_cast<double>(re[k]) * re[k] + static_cast<double>(im[k]) * im[k];
    total += power[k];
  }
  peakBin = kToneLow;
  for (int k = kToneLow; k <= kToneHigh; ++k)
    if (power[k] > power[peakBin]) peakBin = k;
  double near = 0;
  for (int k = peakBin - 2; k <= peakBin + 2; ++k) near += power[k];
  return total > 0 ? near / total : 0;
}

void CalleeListener::Classify(double energy) {
  const long long endMs = frames_ * kFrameMs, startMs = endMs - kFrameMs;
  const bool voiced = energy >= kVoiceLeast && energy >= floor_ * kVoiceOverFloor;
  const bool loud = energy >= floor_ * kWordPeakOverFloor;

  // The tone: only sound can be one, so the spectrum is taken of sound alone.
  int peak = -1;
  const bool tonal = voiced && Tonality(peak) >= kTonal;
  bool confirmedNow = false;
  if (tonal && (toneFrames_ == 0 || std::abs(peak - toneBin_) <= 1)) {
    if (toneFrames_ == 0) toneStartMs_ = startMs;
    ++toneFrames_;
    toneBin_ = peak;
    toneMisses_ = 0;
    toneEndMs_ = endMs;
    if (!toneConfirmed_ && toneFrames_ * kFrameMs >= kToneConfirmMs) toneConfirmed_ = confirmedNow = true;
  } else if (toneFrames_ > 0) {
    // A frame at another frequency, or no tone: the run ends after some such frames (at once
    // when another tone begins).
    if (++toneMisses_ > kToneMisses || tonal) {
      lastSoundEndMs_ = std::max(lastSoundEndMs_, toneEndMs_);
      if (toneConfirmed_) toneEnded_ = true;
      toneFrames_ = 0;
      toneMisses_ = 0;
      toneBin_ = -1;
      if (tonal && !toneEnded_) {
        toneFrames_ = 1;
        toneBin_ = peak;
        toneStartMs_ = startMs;
        toneEndMs_ = endMs;
      }
    }
  }

  auto closeWord = [this] {
    inWord_ = false;
    const long long length = wordSoundEndMs_ - wordStartMs_;
    if (wordPeaked_ && length >= t_.minWordMs && wordVoicedFrames_ * kFrameMs * 2 >= t_.minWordMs) {
      ++words_;
      if (turnStartMs_ < 0) turnStartMs_ = wordStartMs_;
      lastWordEndMs_ = wordSoundEndMs_;
      lastSoundEndMs_ = std::max(lastSoundEndMs_, wordSoundEndMs_);
    }
  };
  if (confirmedNow && inWord_) {
    // The sound so far was the tone's beginning, or a word ran into the tone: the word ends
    // where the tone began.
    if (wordStartMs_ >= toneStartMs_ - kWordGapMs) {
      inWord_ = false;
    } else {
      wordSoundEndMs_ = std::min(wordSoundEndMs_, toneStartMs_);
      closeWord();
    }
  }
  // A word is voice of two frames or more in a row: a frame alone is the noise's peak (it
  // would stretch the word's end, and with it the pause before the line speaks).
  const bool toneNow = toneFrames_ > 0 && toneConfirmed_ && !toneEnded_;
  const bool wordVoice = voiced && !toneNow;
  if (wordVoice && lastVoiced_) {
    if (!inWord_) {
      inWord_ = true;
      wordStartMs_ = startMs - kFrameMs;
      wordVoicedFrames_ = 1;
      wordPeaked_ = false;
    }
    if (loud) wordPeaked_ = true;
    wordSoundEndMs_ = endMs;
    ++wordVoicedFrames_;
  } else if (inWord_ && endMs - wordSoundEndMs_ >= kWordGapMs) {
    closeWord();
  }
  lastVoiced_ = wordVoice;
}

void CalleeListener::Decide() {
  if (clearedAtMs_ >= 0) return;
  const long long now = frames_ * kFrameMs;
  const bool wordNow = inWord_ && wordPeaked_ && wordSoundEndMs_ - wordStartMs_ >= t_.minWordMs;
  const long long firstStart = turnStartMs_ >= 0 ? turnStartMs_ : (wordNow ? wordStartMs_ : -1);
  const long long speechEnd = std::max(lastWordEndMs_, wordNow ? wordSoundEndMs_ : -1);
  const long long spanMs = firstStart >= 0 ? speechEnd - firstStart : 0;
  const int words = words_ + (wordNow ? 1 : 0);
  const bool busy = inWord_ || toneFrames_ > 0;
  const long long quietMs = busy ? 0 : now - std::max(lastSoundEndMs_, 0LL);

  if (who_ == Answerer::Deciding) {
    if (toneConfirmed_ || words > t_.maxWords || spanMs > t_.greetingMs ||
        (wordNow && wordSoundEndMs_ - wordStartMs_ > t_.maxWordMs)) {
      who_ = Answerer::Machine;
    } else if (firstStart < 0 ? (!busy && now >= t_.initialSilenceMs) : quietMs >= t_.afterGreetingMs) {
      who_ = Answerer::Person;
      Clear(false, false);
      return;
    } else if (now >= t_.totalMs) {
      who_ = Answerer::NotSure;
    } else {
      return;
    }
  }
  if (who_ == Answerer::Machine) {
    if (toneEnded_ && !busy) {
      Clear(true, false);
    } else if (!busy && quietMs >= t_.machineSilenceMs && !toneConfirmed_) {
      Clear(false, false);
    } else if (now >= t_.greetingWaitMs) {
      Clear(false, true);
    }
  } else if (who_ == Answerer::NotSure) {
    if ((!busy && quietMs >= t_.afterGreetingMs) || now >= t_.greetingWaitMs) Clear(false, false);
  }
}

void CalleeListener::Clear(bool tone, bool timedOut) {
  clearedAtMs_ = frames_ * kFrameMs;
  clearedLastWordMs_ = lastWordEndMs_;
  toneHeard_ = tone;
  timedOut_ = timedOut;
}

Answerer CalleeListener::Who() const { return who_; }
bool CalleeListener::ClearToSpeak() const { return clearedAtMs_ >= 0; }
bool CalleeListener::ToneHeard() const { return toneHeard_; }
bool CalleeListener::GreetingTimedOut() const { return timedOut_; }
long long CalleeListener::HeardMs() const { return samples_ * 1000 / 8000; }
long long CalleeListener::ClearedAtMs() const { return clearedAtMs_; }
long long CalleeListener::LastWordEndMs() const { return clearedAtMs_ >= 0 ? clearedLastWordMs_ : lastWordEndMs_; }

const char* AnswererName(Answerer who) {
  switch (who) {
    case Answerer::Person:
      return "a person";
    case Answerer::Machine:
      return "a machine";
    case Answerer::NotSure:
      return "not sure who";
    case Answerer::Deciding:
      break;
  }
  return "not sure who";
}

}  // namespace talmery
