#include "gateway/audio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numeric>
#include <sstream>

namespace talmery {
namespace {

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
uint32_t Get16(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8;
}
uint32_t Get32(const std::string& s, size_t at) { return Get16(s, at) | Get16(s, at + 2) << 16; }

}  // namespace

std::string EncodeWav(const Pcm& pcm) {
  const uint32_t dataBytes = static_cast<uint32_t>(pcm.samples.size() * 2);
  std::string s;
  s.reserve(44 + dataBytes);
  s += "RIFF";
  Put32(s, 36 + dataBytes);
  s += "WAVEfmt ";
  Put32(s, 16);
  Put16(s, 1);  // PCM
  Put16(s, 1);  // mono
  Put32(s, static_cast<uint32_t>(pcm.rate));
  Put32(s, static_cast<uint32_t>(pcm.rate) * 2);
  Put16(s, 2);
  Put16(s, 16);
  s += "data";
  Put32(s, dataBytes);
  for (int16_t v : pcm.samples) Put16(s, static_cast<uint16_t>(v));
  return s;
}

bool DecodeWav(const std::string& b, Pcm& pcm, std::string& error) {
  if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) {
    error = "not a WAV file";
    return false;
  }
  bool haveFormat = false;
  size_t at = 12;
  while (at + 8 <= b.size()) {
    const std::string id = b.substr(at, 4);
    const size_t size = Get32(b, at + 4);
    const size_t body = at + 8;
    if (size > b.size() - body) {
      // Recorders that were stopped hard leave the data size unpatched: take what is there.
      if (id != "data") {
        error = "WAV chunk " + id + " runs past the end";
        return false;
      }
    }
    if (id == "fmt ") {
      if (size < 16) {
        error = "WAV format chunk too short";
        return false;
      }
      if (Get16(b, body) != 1 || Get16(b, body + 2) != 1 || Get16(b, body + 14) != 16) {
        error = "not 16-bit mono PCM";
        return false;
      }
      pcm.rate = static_cast<int>(Get32(b, body + 4));
      haveFormat = true;
    } else if (id == "data") {
      if (!haveFormat) {
        error = "WAV data before its format";
        return false;
      }
      const size_t bytes = std::min(size, b.size() - body) & ~static_cast<size_t>(1);
      pcm.samples.resize(bytes / 2);
      for (size_t i = 0; i < pcm.samples.size(); ++i)
        pcm.samples[i] = static_cast<int16_t>(Get16(b, body + 2 * i));
      return true;
    }
    at = body + size + (size & 1);
  }
  error = "WAV file without data";
  return false;
}

bool WriteWavFile(const std::string& path, const Pcm& pcm, std::string& error) {
  WavWriter writer;
  return writer.Open(path, pcm.rate, error) && writer.Append(pcm.samples.data(), pcm.samples.size(), error) &&
         writer.Close(error);
}

WavWriter::~WavWriter() {
  if (fd_ < 0) return;
  close(fd_);
  std::remove(temp_.c_str());
}

bool WavWriter::Open(const std::string& path, int rate, std::string& error) {
  path_ = path;
  temp_ = path + ".part";
  samples_ = 0;
  fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0 || fchmod(fd_, 0600) != 0) {
    error = "cannot write " + temp_ + ": " + std::strerror(errno);
    return false;
  }
  Pcm none;
  none.rate = rate;
  const std::string header = EncodeWav(none);  // its sizes are filled in by Close
  return Append(nullptr, 0, error) && write(fd_, header.data(), header.size()) == static_cast<ssize_t>(header.size());
}

bool WavWriter::Append(const int16_t* samples, size_t count, std::string& error) {
  std::string bytes;
  bytes.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) Put16(bytes, static_cast<uint16_t>(samples[i]));
  size_t done = 0;
  while (fd_ >= 0 && done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (fd_ < 0 || done < bytes.size()) {
    error = "cannot write " + temp_ + (fd_ < 0 ? "" : std::string(": ") + std::strerror(errno));
    return false;
  }
  samples_ += count;
  return true;
}

bool WavWriter::Close(std::string& error) {
  if (fd_ < 0) {
    error = "cannot write " + temp_;
    return false;
  }
  std::string riff, data;
  Put32(riff, static_cast<uint32_t>(36 + samples_ * 2));
  Put32(data, static_cast<uint32_t>(samples_ * 2));
  const bool ok = pwrite(fd_, riff.data(), 4, 4) == 4 && pwrite(fd_, data.data(), 4, 40) == 4;
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0 || !ok) {
    error = "cannot write " + temp_ + ": " + std::strerror(errno);
    std::remove(temp_.c_str());
    return false;
  }
  // Renamed once whole: a reader never sees half a file.
  if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
    error = "cannot rename " + temp_ + " to " + path_ + ": " + std::strerror(errno);
    std::remove(temp_.c_str());
    return false;
  }
  return true;
}

bool ReadWavFile(const std::string& path, Pcm& pcm, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!DecodeWav(bytes.str(), pcm, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

Pcm Resample(const Pcm& in, int rate) {
  Pcm out;
  out.rate = rate;
  if (in.rate == rate || in.samples.empty() || rate <= 0 || in.rate <= 0) {
    out.samples = in.samples;
    return out;
  }
  Resampler resampler(in.rate, rate);
  out.samples.reserve(static_cast<size_t>(static_cast<long double>(in.samples.size()) * rate / in.rate) + 1);
  resampler.Push(in.samples.data(), in.samples.size(), out.samples);
  resampler.Finish(out.samples);
  return out;
}

namespace {
constexpr double kPi = 3.14159265358979323846;
}  // namespace

Resampler::Resampler(int inRate, int outRate) : same_(inRate == outRate || inRate <= 0 || outRate <= 0) {
  if (same_) return;
  // Output sample j lies at input position j * M / L; its fractional part takes one of L
  // phases, so the kernel is computed once per phase (polyphase filter).
  const long g = std::gcd(static_cast<long>(outRate), static_cast<long>(inRate));
  up_ = outRate / g;
  down_ = inRate / g;
  const double ratio = static_cast<double>(outRate) / inRate;
  // Cut-off a little below the lower Nyquist frequency; Blackman-windowed sinc with 16 zero
  // crossings each side; each phase's kernel is normalised to unity gain at DC.
  cutoff_ = 0.94 * std::min(1.0, ratio);
  half_ = static_cast<int>(std::ceil(16 / cutoff_));
  taps_ = 2 * half_;
  direct_.resize(static_cast<size_t>(taps_));
  if (up_ > 4096) return;
  table_.resize(static_cast<size_t>(up_) * taps_);
  for (long p = 0; p < up_; ++p) {
    double sum = 0;
    for (int t = 0; t < taps_; ++t) sum += Kernel(t, p);
    for (int t = 0; t < taps_; ++t) table_[static_cast<size_t>(p) * taps_ + t] = static_cast<float>(Kernel(t, p) / sum);
  }
}

double Resampler::Kernel(int tap, long phase) const {
  const double x = (tap - half_ + 1) - static_cast<double>(phase) / up_;
  if (std::fabs(x) >= half_) return 0.0;
  const double w = 0.42 + 0.5 * std::cos(kPi * x / half_) + 0.08 * std::cos(2 * kPi * x / half_);
  const double arg = kPi * cutoff_ * x;
  return w * (std::fabs(arg) < 1e-12 ? 1.0 : std::sin(arg) / arg);
}

void Resampler::Push(const int16_t* samples, size_t count, std::vector<int16_t>& out) {
  if (same_) {
    out.insert(out.end(), samples, samples + count);
    return;
  }
  held_.insert(held_.end(), samples, samples + count);
  received_ += static_cast<long long>(count);
  Produce(false, out);
}

void Resampler::Finish(std::vector<int16_t>& out) {
  if (!same_) Produce(true, out);
}

void Resampler::Produce(bool final, std::vector<int16_t>& out) {
  // As many outputs as the input joined gives, floor(received * L / M), once it has ended.
  const long long total = final ? static_cast<long long>(static_cast<long double>(received_) * up_ / down_) : -1;
  for (;; ++next_) {
    if (final && next_ >= total) break;
    const long long pos = next_ * down_;
    const long long base = pos / up_;
    const long p = static_cast<long>(pos % up_);
    if (!final && base + half_ >= received_) break;  // its last tap has not arrived
    const float* k = nullptr;
    if (!table_.empty()) {
      k = &table_[static_cast<size_t>(p) * taps_];
    } else {
      double sum = 0;
      for (int t = 0; t < taps_; ++t) sum += direct_[static_cast<size_t>(t)] = static_cast<float>(Kernel(t, p));
      for (float& v : direct_) v = static_cast<float>(v / sum);
      k = direct_.data();
    }
    double acc = 0;
    const long long first = base - half_ + 1;
    for (int t = 0; t < taps_; ++t) {
      const long long i = first + t;
      if (i >= 0 && i < received_) acc += k[t] * held_[static_cast<size_t>(i - heldFrom_)];
    }
    out.push_back(static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, std::round(acc)))));
  }
  // What no later output reaches is let go, in steps, so that it is not moved for each sample.
  const long long keepFrom = std::max(0LL, (next_ * down_) / up_ - half_ + 1);
  if (keepFrom - heldFrom_ >= 4096) {
    held_.erase(held_.begin(), held_.begin() + (keepFrom - heldFrom_));
    heldFrom_ = keepFrom;
  }
}

Pcm Silence(int rate, int ms) {
  Pcm p;
  p.rate = rate;
  p.samples.assign(static_cast<size_t>(static_cast<long long>(rate) * ms / 1000), 0);
  return p;
}

Pcm ComposeMessage(const Pcm& speech, int repeat, int leadMs, int gapMs, int tailMs) {
  Pcm out = Silence(speech.rate, leadMs);
  const Pcm gap = Silence(speech.rate, gapMs);
  for (int i = 0; i < repeat; ++i) {
    if (i > 0) out.samples.insert(out.samples.end(), gap.samples.begin(), gap.samples.end());
    out.samples.insert(out.samples.end(), speech.samples.begin(), speech.samples.end());
  }
  const Pcm tail = Silence(speech.rate, tailMs);
  out.samples.insert(out.samples.end(), tail.samples.begin(), tail.samples.end());
  return out;
}

uint8_t LinearToUlaw(int16_t sample) {
  int value = sample >> 2;  // mu-law codes 14 bits
  int mask = 0xFF;
  if (value < 0) {
    mask = 0x7F;
    value = -value;
  }
  value = std::min(value, 8159) + 0x21;  // clipped, then biased so that each segment starts on a power of two
  int segment = 0;
  while (segment < 8 && value > (0x40 << segment) - 1) ++segment;
  if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
  return static_cast<uint8_t>((segment << 4 | ((value >> (segment + 1)) & 0x0F)) ^ mask);
}

uint8_t LinearToAlaw(int16_t sample) {
  int value = sample >> 3;  // A-law codes 13 bits
  int mask = 0xD5;
  if (value < 0) {
    mask = 0x55;
    value = -value - 1;
  }
  int segment = 0;
  while (segment < 8 && value > (0x20 << segment) - 1) ++segment;
  if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
  const int code = segment << 4 | ((segment < 2 ? value >> 1 : value >> segment) & 0x0F);
  return static_cast<uint8_t>(code ^ mask);
}

int16_t UlawToLinear(uint8_t code) {
  code = static_cast<uint8_t>(~code);
  int value = ((code & 0x0F) << 3) + 0x84;
  value <<= (code & 0x70) >> 4;
  return static_cast<int16_t>((code & 0x80) ? 0x84 - value : value - 0x84);
}

int16_t AlawToLinear(uint8_t code) {
  code ^= 0x55;
  const int segment = (code & 0x70) >> 4;
  int value = (code & 0x0F) << 4;
  value += segment == 0 ? 8 : 0x108;
  if (segment > 1) value <<= segment - 1;
  return static_cast<int16_t>((code & 0x80) ? value : -value);
}

}  // namespace talmery
