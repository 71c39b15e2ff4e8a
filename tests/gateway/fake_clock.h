#pragma once
// A clock the test sets: ticks and the wall clock move apart, and a "reboot" starts the ticks
// again under another boot id.
#include <atomic>
#include <mutex>
#include <string>

#include "gateway/clock.h"

namespace gwtest {

class FakeClock : public talmery::GatewayClock {
 public:
  FakeClock(long long tickMs = 0, long long wallMs = 0) : tick_(tickMs), wall_(wallMs) {}
  talmery::Instant Now() const override { return {tick_.load(), wall_.load()}; }
  std::string BootId() const override {
    std::lock_guard<std::mutex> lock(mu_);
    return boot_;
  }
  // Time passes: both clocks move on.
  void Pass(long long ms) {
    tick_ += ms;
    wall_ += ms;
  }
  // Someone sets the wall clock; the ticks go on as they were.
  void StepWall(long long ms) { wall_ += ms; }
  // The machine starts again: new ticks, another boot.
  void Reboot(long long tickMs, const std::string& boot) {
    std::lock_guard<std::mutex> lock(mu_);
    tick_ = tickMs;
    boot_ = boot;
  }

 private:
  std::atomic<long long> tick_, wall_;
  mutable std::mutex mu_;
  std::string boot_ = "boot-1";
};

}  // namespace gwtest
