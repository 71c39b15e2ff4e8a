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
  // Written under a temporary name and renamed: a reader never sees half a file.
  // Created 0600 whatever the umask: a message holds a call's text.
  const std::string temp = path + ".part";
  {
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    const std::string bytes = EncodeWav(pcm);
    size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    const bool ok = fd >= 0 && done == bytes.size() && fchmod(fd, 0600) == 0;
    if (fd >= 0) close(fd);
    if (!ok) {
      error = "cannot write " + temp;
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + temp + " to " + path + ": " + std::strerror(errno);
    std::remove(temp.c_str());
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
  // Output sample j lies at input position j * M / L; its fractional part takes one of L
  // phases, so the kernel is computed once per phase (polyphase filter).
  const long g = std::gcd(static_cast<long>(rate), static_cast<long>(in.rate));
  const long L = rate / g, M = in.rate / g;
  const double ratio = static_cast<double>(rate) / in.rate;
  // Cut-off a little below the lower Nyquist frequency; Blackman-windowed sinc with 16 zero
  // crossings each side; each phase's kernel is normalised to unity gain at DC.
  const double cutoff = 0.94 * std::min(1.0, ratio);
  const int half = static_cast<int>(std::ceil(16 / cutoff));
  const int taps = 2 * half;
  const double pi = 3.14159265358979323846;
  auto kernel = [&](double x) {
    if (std::fabs(x) >= half) return 0.0;
    const double w = 0.42 + 0.5 * std::cos(pi * x / half) + 0.08 * std::cos(2 * pi * x / half);
    const double arg = pi * cutoff * x;
    return w * (std::fabs(arg) < 1e-12 ? 1.0 : std::sin(arg) / arg);
  };
  const bool tabled = L <= 4096;
  std::vector<float> table;
  if (tabled) {
    table.resize(static_cast<size_t>(L) * taps);
    for (long p = 0; p < L; ++p) {
      double sum = 0;
      for (int t = 0; t < taps; ++t) sum += kernel((t - half + 1) - static_cast<double>(p) / L);
      for (int t = 0; t < taps; ++t)
        table[static_cast<size_t>(p) * taps + t] = static_cast<float>(kernel((t - half + 1) - static_cast<double>(p) / L) / sum);
    }
  }
  const size_t n = static_cast<size_t>(static_cast<long double>(in.samples.size()) * L / M);
  out.samples.resize(n);
  const long size = static_cast<long>(in.samples.size());
  std::vector<float> direct(static_cast<size_t>(taps));
  for (size_t j = 0; j < n; ++j) {
    const long long pos = static_cast<long long>(j) * M;
    const long base = static_cast<long>(pos / L);
    const long p = static_cast<long>(pos % L);
    const float* k = nullptr;
    if (tabled) {
      k = &table[static_cast<size_t>(p) * taps];
    } else {
      double sum = 0;
      for (int t = 0; t < taps; ++t) sum += direct[static_cast<size_t>(t)] = static_cast<float>(kernel((t - half + 1) - static_cast<double>(p) / L));
      for (float& v : direct) v = static_cast<float>(v / sum);
      k = direct.data();
    }
    double acc = 0;
    const long first = base - half + 1;
    for (int t = 0; t < taps; ++t) {
      const long i = first + t;
      if (i >= 0 && i < size) acc += k[t] * in.samples[static_cast<size_t>(i)];
    }
    out.samples[j] = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, std::round(acc))));
  }
  return out;
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

}  // namespace talmery
