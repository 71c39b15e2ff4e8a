#pragma once
// A clock the test sets: ticks and the wall clock move apart, and a reboot starts the ticks again
// under another boot id.
#include <atomic>
#include <string>

#include "gateway/clock.h"

namespace gwtest {

class FakeClock : public talmery::GatewayClock {
 public:
  FakeClock(long long tickMs, long long wallMs) : tick_(tickMs), wall_(wallMs) {}
  talmery::Instant Now() const override { return {tick_, wall_}; }
  std::string BootId() const override { return "boot-" + std::to_string(boot_.load()); }
  void Pass(long long ms) { tick_ += ms, wall_ += ms; }  // time passes
  void StepWall(long long ms) { wall_ += ms; }          // someone sets the wall clock
  void Reboot(long long tickMs) { tick_ = tickMs, ++boot_; }

 private:
  std::atomic<long long> tick_, wall_;
  std::atomic<int> boot_{1};
};

}  // namespace gwtest
