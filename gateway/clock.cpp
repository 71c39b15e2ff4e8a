#include "gateway/clock.h"

#include <time.h>

#include <fstream>

#include "gateway/event_log.h"

namespace talmery {
namespace {

class MachineClock : public GatewayClock {
 public:
  Instant Now() const override {
    timespec t{};
    clock_gettime(CLOCK_BOOTTIME, &t);
    return {static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000, NowMs()};
  }
  std::string BootId() const override {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
  }
};

}  // namespace

const GatewayClock& SystemClock() {
  static const MachineClock clock;
  return clock;
}

}  // namespace talmery
