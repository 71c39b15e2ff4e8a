#include "tools/phone/speech_match.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>

namespace phone {
namespace {

using Complex = std::complex<double>;

void Fft(std::vector<Complex>& a, bool inverse) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  const double pi = 3.14159265358979323846;
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = 2 * pi / static_cast<double>(len) * (inverse ? 1 : -1);
    const Complex step(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      Complex w(1);
      for (size_t k = 0; k < len / 2; ++k) {
        const Complex u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= step;
      }
    }
  }
  if (inverse)
    for (Complex& x : a) x /= static_cast<double>(n);
}

double Coverage(const std::vector<int16_t>& rec, long lag, const std::vector<int16_t>& speech) {
  constexpr size_t kFrame = 160;  // 20 ms at 8 kHz
  const size_t frames = speech.size() / kFrame;
  std::vector<double> ref(frames), got(frames);
  double peak = 0, refTotal = 0, gotTotal = 0;
  for (size_t f = 0; f < frames; ++f) {
    for (size_t i = f * kFrame; i < (f + 1) * kFrame; ++i) {
      const double r = speech[i], g = rec[static_cast<size_t>(lag) + i];
      ref[f] += r * r;
      got[f] += g * g;
    }
    peak = std::max(peak, ref[f]);
    refTotal += ref[f];
    gotTotal += got[f];
  }
  if (peak <= 0 || refTotal <= 0) return 0;
  const double gain = gotTotal / refTotal;  // the line's level against the speech's
  if (gain < 1e-4) return 0;                // 40 dB down: nothing arrived
  size_t voiced = 0, present = 0;
  for (size_t f = 0; f < frames; ++f) {
    if (ref[f] < peak * 1e-3) continue;  // quieter than -30 dB of the loudest frame
    ++voiced;
    if (got[f] >= 0.1 * gain * ref[f]) ++present;  // within 10 dB
  }
  return voiced ? static_cast<double>(present) / voiced : 0;
}

// Normalised correlation of speech[from, from + n) with rec[at, at + n); `energy` holds the
// prefix sums of the recording's squares, `pieceEnergy` the piece's own.
double PieceCorrelation(const std::vector<int16_t>& rec, const std::vector<double>& energy, long at,
                        const std::vector<int16_t>& speech, size_t from, size_t n, double pieceEnergy) {
  if (at < 0 || static_cast<size_t>(at) + n > rec.size()) return 0;
  const double er = energy[static_cast<size_t>(at) + n] - energy[static_cast<size_t>(at)];
  if (er <= pieceEnergy * 1e-4 || pieceEnergy <= 0) return 0;
  const int16_t* r = &rec[static_cast<size_t>(at)];
  const int16_t* v = &speech[from];
  long long dot = 0;
  for (size_t i = 0; i < n; ++i) dot += static_cast<long long>(r[i]) * v[i];
  return static_cast<double>(dot) / std::sqrt(er * pieceEnergy);
}

// Share of the voiced 100 ms pieces that are found, each within 20 ms of where the piece before
// it was found (the first within 50 ms of `lag`).
double MatchedPieces(const std::vector<int16_t>& rec, const std::vector<double>& recEnergy, long lag,
                     const std::vector<int16_t>& speech) {
  constexpr size_t kPiece = 800;
  const size_t pieces = speech.size() / kPiece;
  std::vector<double> energy(pieces, 0);
  double peak = 0;
  for (size_t p = 0; p < pieces; ++p) {
    for (size_t i = p * kPiece; i < (p + 1) * kPiece; ++i) energy[p] += static_cast<double>(speech[i]) * speech[i];
    peak = std::max(peak, energy[p]);
  }
  long shift = 0;  // how far the recording has drifted from `lag` so far
  bool first = true;
  size_t voiced = 0, matched = 0;
  for (size_t p = 0; p < pieces; ++p) {
    if (energy[p] < peak * 1e-3) continue;
    ++voiced;
    const long reach = first ? 400 : 160;
    double best = -1;
    long bestShift = shift;
    for (long d = shift - reach; d <= shift + reach; ++d) {
      const double c =
          PieceCorrelation(rec, recEnergy, lag + static_cast<long>(p * kPiece) + d, speech, p * kPiece, kPiece, energy[p]);
      if (c > best) {
        best = c;
        bestShift = d;
      }
    }
    if (best >= kMinPiece) {
      ++matched;
      shift = bestShift;
      first = false;
    }
  }
  return voiced ? static_cast<double>(matched) / voiced : 0;
}

}  // namespace

std::vector<SpeechMatch> FindSpeech(const talmery::Pcm& recording, const talmery::Pcm& speech, int wanted) {
  std::vector<SpeechMatch> found;
  const std::vector<int16_t>& rec = recording.samples;
  const std::vector<int16_t>& ref = speech.samples;
  if (ref.empty() || rec.size() < ref.size() || recording.rate != speech.rate) return found;
  size_t n = 1;
  while (n < rec.size() + ref.size()) n <<= 1;
  std::vector<Complex> a(n), b(n);
  for (size_t i = 0; i < rec.size(); ++i) a[i] = rec[i];
  for (size_t i = 0; i < ref.size(); ++i) b[i] = ref[i];
  Fft(a, false);
  Fft(b, false);
  for (size_t i = 0; i < n; ++i) a[i] *= std::conj(b[i]);
  Fft(a, true);  // a[lag] = sum of ref[i] * rec[i + lag]

  double refEnergy = 0;
  for (int16_t v : ref) refEnergy += static_cast<double>(v) * v;
  std::vector<double> prefix(rec.size() + 1, 0);
  for (size_t i = 0; i < rec.size(); ++i) prefix[i + 1] = prefix[i] + static_cast<double>(rec[i]) * rec[i];
  const size_t lags = rec.size() - ref.size() + 1;
  std::vector<double> score(lags, 0);
  for (size_t lag = 0; lag < lags; ++lag) {
    const double window = prefix[lag + ref.size()] - prefix[lag];
    // A near-silent window correlates with nothing, however the rounding falls.
    if (window <= refEnergy * 1e-4 || refEnergy <= 0) continue;
    score[lag] = a[lag].real() / std::sqrt(refEnergy * window);
  }
  std::vector<bool> taken(lags, false);
  for (int k = 0; k < wanted; ++k) {
    long best = -1;
    for (size_t lag = 0; lag < lags; ++lag)
      if (!taken[lag] && (best < 0 || score[lag] > score[static_cast<size_t>(best)])) best = static_cast<long>(lag);
    if (best < 0) break;
    SpeechMatch m;
    m.lag = best;
    m.correlation = score[static_cast<size_t>(best)];
    m.matched = MatchedPieces(rec, prefix, best, ref);
    m.coverage = Coverage(rec, best, ref);
    found.push_back(m);
    // The next occurrence may not overlap this one.
    const long from = std::max(0L, best - static_cast<long>(ref.size()) + 1);
    const long to = std::min(static_cast<long>(lags), best + static_cast<long>(ref.size()));
    for (long lag = from; lag < to; ++lag) taken[static_cast<size_t>(lag)] = true;
  }
  return found;
}

bool RecordingCarries(const talmery::Pcm& recording, const talmery::Pcm& speech, int times, std::string& report) {
  char line[200];
  std::snprintf(line, sizeof line, "recording %.2f s, speech %.2f s, wanted %d times\n",
                static_cast<double>(recording.samples.size()) / recording.rate,
                static_cast<double>(speech.samples.size()) / speech.rate, times);
  report = line;
  const std::vector<SpeechMatch> found = FindSpeech(recording, speech, times);
  bool ok = static_cast<int>(found.size()) == times;
  for (const SpeechMatch& m : found) {
    const bool good = m.matched >= kMinMatched && m.coverage >= kMinCoverage;
    ok = ok && good;
    std::snprintf(line, sizeof line, "  at %.3f s: correlation %.4f, pieces matched %.3f, coverage %.3f%s\n",
                  static_cast<double>(m.lag) / recording.rate, m.correlation, m.matched, m.coverage,
                  good ? "" : "  (too low)");
    report += line;
  }
  if (static_cast<int>(found.size()) < times) report += "  the recording is shorter than the speech\n";
  report += ok ? "the recording carries the speech\n" : "the recording does NOT carry the speech\n";
  return ok;
}

}  // namespace phone
