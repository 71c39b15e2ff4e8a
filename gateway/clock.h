#pragma once
// The gateway's two clocks. Waiting times (a retry's pause, max_wait, the windows of
// client_rate and daily_calls) are measured in ticks, which never step: CLOCK_BOOTTIME, in
// milliseconds since the machine started, counting time spent suspended. The wall clock is only
// shown (the log, the page, the stored rows): an administrator or NTP may set it back or forward
// by hours, and a waiting call must neither freeze nor expire for that. Ticks of one boot of the
// machine compare across restarts of the gateway; BootId tells boots apart.
#include <string>

namespace talmery {

struct Instant {
  long long tickMs = 0;  // CLOCK_BOOTTIME
  long long wallMs = 0;  // since the epoch, for display
};

class GatewayClock {
 public:
  virtual ~GatewayClock() = default;
  virtual Instant Now() const = 0;
  // Names this boot of the machine; empty when it cannot be told.
  virtual std::string BootId() const = 0;
};

// The machine's clocks; the boot is named by /proc/sys/kernel/random/boot_id, or where /proc
// does not show it (the shipped unit's sandbox) by TALMERY_BOOT_ID, which the unit sets.
const GatewayClock& SystemClock();

}  // namespace talmery
