#pragma once
// 16-bit mono PCM: WAV files, resampling to the telephone rate, and the message played into a
// call (silence, the speech, a pause, the speech again...). Pure: no synthesiser, no I/O
// beyond the named file.
#include <cstdint>
#include <string>
#include <vector>

namespace talmery {

constexpr int kPhoneRate = 8000;

struct Pcm {
  int rate = kPhoneRate;
  std::vector<int16_t> samples;
};

// RIFF/WAVE, PCM 16-bit, one channel.
std::string EncodeWav(const Pcm& pcm);
// Accepts PCM 16-bit WAV with one channel (any rate); false with a reason otherwise.
bool DecodeWav(const std::string& bytes, Pcm& pcm, std::string& error);
bool WriteWavFile(const std::string& path, const Pcm& pcm, std::string& error);
bool ReadWavFile(const std::string& path, Pcm& pcm, std::string& error);

// Band-limited resampling (windowed sinc): what lies above the new Nyquist frequency is removed
// rather than folded back into the speech band.
Pcm Resample(const Pcm& in, int rate);

// The message of one call: `lead` ms of silence, then the speech `repeat` times with `gap` ms
// between, then `tail` ms of silence.
Pcm ComposeMessage(const Pcm& speech, int repeat, int leadMs, int gapMs, int tailMs);

Pcm Silence(int rate, int ms);

// G.711 (ITU-T): one sample to mu-law (PCMU, payload type 0) or A-law (PCMA, payload type 8).
uint8_t LinearToUlaw(int16_t sample);
uint8_t LinearToAlaw(int16_t sample);

}  // namespace talmery
