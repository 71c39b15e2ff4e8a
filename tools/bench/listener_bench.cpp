// listener_bench: how well the callee listener tells persons from mailboxes, and what it costs,
// over the labelled recordings (tests/gateway/callee_recordings.h), for docs/performance.md
// (tools/bench-listener.sh runs it on a build without sanitizers). Prints table rows
// "| measure | result | how |"; with -v first one line per recording.
//   listener_bench [-v] [repeats for the CPU figure, default 20]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gateway/listener.h"
#include "tests/gateway/callee_recordings.h"

namespace {

using talmery::Answerer;
using talmery::CalleeListener;
using talmery::CalleeRecording;

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The whole recording, 20 ms at a time, as the line feeds it (the listener keeps listening after
// it has cleared the line, as it does in a call).
void FeedAll(CalleeListener& listener, const std::vector<int16_t>& samples) {
  for (size_t at = 0; at < samples.size(); at += 160)
    listener.Feed(samples.data() + at, std::min<size_t>(160, samples.size() - at));
}

long long Median(std::vector<long long> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The recording with white noise of `rms` added (a fixed sequence), G.711's range kept.
std::vector<int16_t> WithNoise(const std::vector<int16_t>& samples, double rms, uint32_t seed) {
  std::vector<int16_t> out(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    double sum = 0;
    for (int k = 0; k < 6; ++k) {
      seed = seed * 1664525u + 1013904223u;
      sum += (seed >> 8) / 16777216.0;
    }
    const double v = samples[i] + rms * (sum - 3) * 1.41421356;
    out[i] = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, v)));
  }
  return out;
}

// Whether the listener decides `r` right and clears the line as the test demands.
bool Right(const CalleeRecording& r, const std::vector<int16_t>& samples, std::string& what) {
  CalleeListener listener;
  FeedAll(listener, samples);
  what = std::string(talmery::AnswererName(listener.Who())) + ", cleared at " + std::to_string(listener.ClearedAtMs()) +
         " ms, last word " + std::to_string(listener.LastWordEndMs()) + " ms";
  const long long cleared = listener.ClearedAtMs();
  if (cleared < 0 || talmery::SoundingAt(r, cleared)) return false;
  if (r.machine) return listener.Who() == Answerer::Machine && cleared >= (r.toneEndMs >= 0 ? r.toneEndMs : r.greetingEndMs);
  const long long last = talmery::LastSpeechEndBefore(r, cleared);
  return listener.Who() == Answerer::Person && (last < 0 || cleared - last <= 1000);
}

long long Most(const std::vector<long long>& v) { return v.empty() ? -1 : *std::max_element(v.begin(), v.end()); }

}  // namespace

int main(int argc, char** argv) {
  bool verbose = false;
  int repeats = 20;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-v") == 0) {
      verbose = true;
    } else {
      repeats = std::max(1, std::atoi(argv[i]));
    }
  }
  std::vector<CalleeRecording> recordings;
  std::string error;
  const auto made = std::chrono::steady_clock::now();
  const bool ok = talmery::MakeCalleeRecordings(recordings, error);
  const double makingSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - made).count();
  if (!ok) {
    std::fprintf(stderr, "listener_bench: %s\n", error.c_str());
    return 1;
  }

  // Rows: truth person, machine; columns: decided person, machine, not sure (or undecided).
  int matrix[2][3] = {};
  int right = 0, toneMachines = 0, afterTone = 0, spokeOver = 0;
  std::vector<long long> personDelays, toneDelays, silenceDelays;
  long long personDelayMost = -1;
  for (const CalleeRecording& r : recordings) {
    CalleeListener listener;
    FeedAll(listener, r.samples);
    const Answerer who = listener.Who();
    const int column = who == Answerer::Person ? 0 : who == Answerer::Machine ? 1 : 2;
    ++matrix[r.machine ? 1 : 0][column];
    if ((who == Answerer::Machine) == r.machine && (who == Answerer::Person) == !r.machine) ++right;
    const long long cleared = listener.ClearedAtMs();
    if (cleared >= 0 && talmery::SoundingAt(r, cleared)) ++spokeOver;
    long long delay = -1;
    if (!r.machine && cleared >= 0) {
      const long long last = talmery::LastSpeechEndBefore(r, cleared);
      delay = cleared - (last >= 0 ? last : 0);
      if (last >= 0) {
        personDelays.push_back(delay);
        personDelayMost = std::max(personDelayMost, delay);
      }
    }
    if (r.machine && r.toneEndMs >= 0) {
      ++toneMachines;
      if (cleared >= r.toneEndMs && listener.ToneHeard()) ++afterTone;
    }
    if (r.machine && cleared >= 0) {
      if (r.toneEndMs >= 0) {
        toneDelays.push_back(cleared - r.toneEndMs);
      } else {
        silenceDelays.push_back(cleared - r.greetingEndMs);
      }
    }
    if (verbose)
      std::printf("%-45s %-8s -> %-12s cleared %6lld ms (last word %6lld, greeting end %6lld, tone %lld-%lld)%s%s\n",
                  r.name.c_str(), r.machine ? "machine" : "person", talmery::AnswererName(who), cleared,
                  listener.LastWordEndMs(), r.greetingEndMs, r.toneBeginMs, r.toneEndMs,
                  listener.ToneHeard() ? " tone" : "", cleared >= 0 && talmery::SoundingAt(r, cleared) ? " OVER" : "");
  }

  // The same set on worse lines: white noise added over the line's own (the speech lies at
  // -20 dBFS, the quiet speech at -34 to -36).
  const struct {
    double dbfs;
  } noises[] = {{-40}, {-35}, {-30}};
  char noiseRows[3][160] = {};
  for (size_t n = 0; n < 3; ++n) {
    int good = 0;
    for (size_t i = 0; i < recordings.size(); ++i) {
      std::string what;
      const bool right = Right(
          recordings[i], WithNoise(recordings[i].samples, 32768 * std::pow(10.0, noises[n].dbfs / 20), uint32_t(i + 77)), what);
      good += right;
      if (verbose && !right)
        std::printf("wrong with noise at %.0f dBFS: %s: %s\n", noises[n].dbfs, recordings[i].name.c_str(), what.c_str());
    }
    std::snprintf(noiseRows[n], sizeof noiseRows[n], "| Right, with white noise at %.0f dBFS added | %.1f %% (%d of %zu) | decided and cleared as the test demands |\n",
                  noises[n].dbfs, 100.0 * good / double(recordings.size()), good, recordings.size());
  }

  // The CPU: the analysis alone, the whole set fed `repeats` times. The listener analyses the
  // audio until it clears the line (after that it only counts it): the seconds are those heard
  // until then.
  double audioSeconds = 0;
  const double start = CpuSeconds();
  for (int k = 0; k < repeats; ++k)
    for (const CalleeRecording& r : recordings) {
      CalleeListener listener;
      FeedAll(listener, r.samples);
      const long long analysed = listener.ClearToSpeak() ? listener.ClearedAtMs() : listener.HeardMs();
      if (k == 0) audioSeconds += double(analysed) / 1000;
    }
  const double used = CpuSeconds() - start;
  const double cpu = used / (audioSeconds * repeats);
  const double perCall = used / (double(recordings.size()) * repeats);

  const int persons = matrix[0][0] + matrix[0][1] + matrix[0][2];
  const int machines = matrix[1][0] + matrix[1][1] + matrix[1][2];
  std::printf("| Decided right | %.1f %% (%d of %zu: %d persons, %d mailboxes) | the labelled recordings (tests/gateway/callee_recordings.cpp), default timings |\n",
              100.0 * right / double(recordings.size()), right, recordings.size(), persons, machines);
  std::printf("| Person answered: decided person / machine / not sure | %d / %d / %d | |\n", matrix[0][0], matrix[0][1],
              matrix[0][2]);
  std::printf("| Mailbox answered: decided person / machine / not sure | %d / %d / %d | |\n", matrix[1][0], matrix[1][1],
              matrix[1][2]);
  std::printf("| Person: last word → line cleared | median %lld ms, max %lld ms (n=%zu) | end of the last word in the clean speech → ClearedAtMs |\n",
              Median(personDelays), personDelayMost, personDelays.size());
  std::printf("| Mailbox with a tone: cleared after the tone's end | %d of %d | ToneHeard and ClearedAtMs at or after the tone's end |\n",
              afterTone, toneMachines);
  std::printf("| Mailbox with a tone: the tone's end → line cleared | median %lld ms, max %lld ms (n=%zu) | |\n",
              Median(toneDelays), Most(toneDelays), toneDelays.size());
  std::printf("| Mailbox without a tone: the greeting's end → line cleared | median %lld ms, max %lld ms (n=%zu) | the greeting's last word in the clean speech |\n",
              Median(silenceDelays), Most(silenceDelays), silenceDelays.size());
  for (const char* row : noiseRows) std::fputs(row, stdout);
  std::printf("| Cleared while the callee sounded | %d | ClearedAtMs inside a word or the tone |\n", spokeOver);
  std::printf("| CPU per second of a call's audio | %.1f µs (%.4f %% of a core) | %.0f s of audio listened to, fed %d times in 20 ms packets, process CPU time |\n",
              cpu * 1e6, cpu * 100, audioSeconds, repeats);
  std::printf("| CPU per call | %.2f ms | the same, per recording (the answer until the line is cleared: %.1f s on average) |\n",
              perCall * 1e3, audioSeconds / double(recordings.size()));
  std::printf("| Making the labelled set | %.1f s | the texts spoken by talmery-speak (two at a time; after the first run read back from the build tree), noise and G.711 added |\n", makingSeconds);
  return 0;
}
