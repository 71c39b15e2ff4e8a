// The callee listener on arbitrary audio and timings: never crashes, and what it tells holds
// together (the line is cleared once, within the audio heard, after a decision; a tone counts
// only for a machine).
#include <cstring>

#include "gateway/listener.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first bytes choose the timings and the packet size; the rest is the audio, repeated so
  // that short inputs still reach the decisions.
  talmery::ListenTimings timings;
  size_t packet = 160;
  if (size >= 10) {
    int* fields[] = {&timings.initialSilenceMs, &timings.greetingMs, &timings.afterGreetingMs, &timings.minWordMs,
                     &timings.maxWordMs, &timings.maxWords, &timings.totalMs, &timings.machineSilenceMs,
                     &timings.greetingWaitMs};
    for (size_t i = 0; i < 9; ++i) *fields[i] = (static_cast<int8_t>(data[i]) * 100);
    packet = 1 + data[9];
    data += 10;
    size -= 10;
  }
  talmery::CalleeListener listener(timings);
  int16_t samples[256];
  const size_t count = size / 2;
  long long clearedAt = -1;
  for (int round = 0; round < 4 && count > 0; ++round) {
    for (size_t at = 0; at < count; at += packet) {
      const size_t n = std::min(packet, std::min(count - at, sizeof samples / sizeof samples[0]));
      std::memcpy(samples, data + 2 * at, 2 * n);
      listener.Feed(samples, n);
      if (listener.ClearToSpeak()) {
        FUZZ_CHECK(listener.Who() != talmery::Answerer::Deciding);
        if (clearedAt < 0) clearedAt = listener.ClearedAtMs();
        FUZZ_CHECK(listener.ClearedAtMs() == clearedAt);
      }
      FUZZ_CHECK(listener.ClearedAtMs() <= listener.HeardMs());
      FUZZ_CHECK(listener.LastWordEndMs() <= listener.HeardMs());
      if (listener.ToneHeard()) FUZZ_CHECK(listener.Who() == talmery::Answerer::Machine);
      if (listener.GreetingTimedOut()) FUZZ_CHECK(listener.Who() == talmery::Answerer::Machine);
    }
    listener.Feed(nullptr, 800);  // a lost stretch between rounds
  }
  FUZZ_CHECK(std::strlen(talmery::AnswererName(listener.Who())) > 0);
  return 0;
}
