#pragma once
// Does a recording carry a given speech? The speech is first placed in the recording by
// normalised cross-correlation of the whole waveforms. Then each voiced 100 ms piece of it is
// compared with the recording on its own, following small shifts (a busy sender's buffers can
// drop or add a few milliseconds mid-call, which spoils a whole-utterance correlation but not the
// pieces'): over G.711 on loopback a piece of the right speech correlates above 0.99, a piece of
// another word well below 0.9. Coverage then checks that every voiced 20 ms frame of the speech
// arrived with its energy, so that a recording with gaps fails even where what arrived matches.
#include <string>
#include <vector>

#include "gateway/audio.h"

namespace phone {

struct SpeechMatch {
  long lag = 0;              // samples into the recording
  double correlation = 0;    // of the whole speech at that lag, normalised, -1 to 1
  double matched = 0;        // share of voiced pieces that correlate at kMinPiece or more
  double coverage = 0;       // share of the speech's voiced frames present, 0 to 1
};

constexpr double kMinPiece = 0.9;
constexpr double kMinMatched = 0.9;
constexpr double kMinCoverage = 0.95;

// Up to `wanted` best non-overlapping places of `speech` in `recording`, best first.
std::vector<SpeechMatch> FindSpeech(const talmery::Pcm& recording, const talmery::Pcm& speech, int wanted);

// True when the speech occurs `times` times, each above the thresholds; `report` says what was
// found either way.
bool RecordingCarries(const talmery::Pcm& recording, const talmery::Pcm& speech, int times, std::string& report);

}  // namespace phone
