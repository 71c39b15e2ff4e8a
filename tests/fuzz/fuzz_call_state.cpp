// A call's state as any gateway might send it: the reader never crashes, keeps its figures within
// their bounds, and the follower's next step never asks past the time it was given.
#include "agent/calls/call_follow.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  CallState state;
  if (ReadCallState(200, body, state) == CallStateRead::State) {
    FUZZ_CHECK(!state.state.empty());
    FUZZ_CHECK(state.askAgainSeconds >= 0 && state.askAgainSeconds <= 24 * 3600);
    FUZZ_CHECK(state.followSeconds >= 0 && state.followSeconds <= 7 * 24 * 3600);
    FUZZ_CHECK(state.final || UndeliveredWords(state).empty());
  }
  FollowedCall call;
  call.untilMs = 1000000;
  const long long now = 500000;
  const FollowStep step = NextFollowStep(call, true, 200, body, now);
  if (!step.done) {
    FUZZ_CHECK(call.nextMs > now && call.nextMs <= call.untilMs);
    FUZZ_CHECK(call.untilMs <= now + kFollowAtMostSeconds * 1000 || call.untilMs == 1000000);
  }
  FUZZ_CHECK(step.tell.empty() || step.done);
  return 0;
}
