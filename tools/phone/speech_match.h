#pragma once
// Does a recording carry a given speech? The speech is looked for in the recording by
// normalised cross-correlation of the waveforms (over G.711 on loopback the received samples
// match the sent ones to about 0.9999, while another sentence of the same voice scores about
// 0.3); coverage then checks that every voiced 20 ms frame of the speech arrived with its
// energy, so that a recording with gaps fails even where what arrived matches.
#include <string>
#include <vector>

#include "gateway/audio.h"

namespace phone {

struct SpeechMatch {
  long lag = 0;              // samples into the recording
  double correlation = 0;    // normalised, -1 to 1
  double coverage = 0;       // share of the speech's voiced frames present, 0 to 1
};

constexpr double kMinCorrelation = 0.9;
constexpr double kMinCoverage = 0.95;

// Up to `wanted` best non-overlapping places of `speech` in `recording`, best first.
std::vector<SpeechMatch> FindSpeech(const talmery::Pcm& recording, const talmery::Pcm& speech, int wanted);

// True when the speech occurs `times` times, each above the thresholds; `report` says what was
// found either way.
bool RecordingCarries(const talmery::Pcm& recording, const talmery::Pcm& speech, int times, std::string& report);

}  // namespace phone
