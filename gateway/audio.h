#pragma once
// 16-bit mono PCM: WAV files, resampling to the telephone rate, and the message played into a
// call (silence, the speech, a pause, the speech again...). Pure: no synthesiser, no I/O
// beyond the named file. Speech arrives and leaves in pieces (a text may be hours long), so the
// resampler and the WAV writer take it piece by piece.
#include <cstddef>
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

// The same piece by piece: the output of Push calls and Finish, joined, equals Resample of the
// input joined; what it holds is the filter's reach (some 60 input samples), whatever the length.
class Resampler {
 public:
  Resampler(int inRate, int outRate);
  void Push(const int16_t* samples, size_t count, std::vector<int16_t>& out);
  // The input has ended: the samples that waited for input beyond it (taken as silence).
  void Finish(std::vector<int16_t>& out);

 private:
  void Produce(bool final, std::vector<int16_t>& out);
  double Kernel(int tap, long phase) const;

  bool same_;
  long up_ = 1, down_ = 1;  // output position j lies at input position j * down_ / up_
  int half_ = 0, taps_ = 0;
  std::vector<float> table_;   // the kernel of each phase, when there are few phases
  std::vector<float> direct_;  // else computed per sample
  double cutoff_ = 1;
  std::vector<int16_t> held_;  // input from index heldFrom_ on
  long long heldFrom_ = 0, received_ = 0, next_ = 0;
};

// A WAV file written as its samples come: under a temporary name, created 0600 (a message holds a
// call's text), its sizes filled in and renamed to `path` by Close. A writer destroyed before
// Close removes what it wrote.
class WavWriter {
 public:
  WavWriter() = default;
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;
  bool Open(const std::string& path, int rate, std::string& error);
  bool Append(const int16_t* samples, size_t count, std::string& error);
  bool Close(std::string& error);
  size_t Samples() const { return samples_; }

 private:
  int fd_ = -1;
  std::string path_, temp_;
  size_t samples_ = 0;
};

// The message of one call: `lead` ms of silence, then the speech `repeat` times with `gap` ms
// between, then `tail` ms of silence.
Pcm ComposeMessage(const Pcm& speech, int repeat, int leadMs, int gapMs, int tailMs);

Pcm Silence(int rate, int ms);

// G.711 (ITU-T): one sample to mu-law (PCMU, payload type 0) or A-law (PCMA, payload type 8).
uint8_t LinearToUlaw(int16_t sample);
uint8_t LinearToAlaw(int16_t sample);
// And back: a code to its linear sample (the middle of the code's step).
int16_t UlawToLinear(uint8_t code);
int16_t AlawToLinear(uint8_t code);

}  // namespace talmery
