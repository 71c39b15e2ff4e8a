#pragma once
// Labelled recordings of what callees say when they answer, made here rather than kept as audio:
// mailboxes with short and long greetings, with and without their tone, persons saying a word, a
// sentence or nothing, over the noises of telephone lines and through G.711. The speech comes
// from the gateway's own voices (talmery-speak), so the same build always makes the same
// samples (kept in the build tree after the first run); the labels come from the clean speech
// before the line's noise is added.
// The listener's test (tests/gateway/listener_test.cpp) and its benchmark
// (tools/bench/listener_bench.cpp) run over the same set.
#include <cstdint>
#include <string>
#include <vector>

namespace talmery {

struct Span {
  long long beginMs = 0, endMs = 0;
};

struct CalleeRecording {
  std::string name;
  bool machine = false;
  std::vector<int16_t> samples;  // 8 kHz, as the line hands them to the listener
  std::vector<Span> speech;      // where the callee speaks (words closer than 100 ms joined)
  // A machine: where its greeting's speech ends, and its tone (-1: no tone).
  long long greetingEndMs = -1;
  long long toneBeginMs = -1, toneEndMs = -1;
  // A person: the end of their last word (-1: they say nothing).
  long long lastWordEndMs = -1;
};

// The whole set, in a fixed order; false with a reason when the voices cannot speak.
bool MakeCalleeRecordings(std::vector<CalleeRecording>& recordings, std::string& error);

// The end of the callee's last word before `ms` (-1: none before it).
long long LastSpeechEndBefore(const CalleeRecording& recording, long long ms);
// Whether the callee (or its tone) is sounding at `ms`.
bool SoundingAt(const CalleeRecording& recording, long long ms);

}  // namespace talmery
