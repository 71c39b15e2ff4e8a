#pragma once
// How often calls are accepted (client_rate, daily_calls, max_queued) and what each client did:
// pure, with the times passed in (ms), so that it is tested natively.
#include <array>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "gateway/refusal.h"

namespace talmery {

// Limits on accepted calls: per client address per minute, in all per 24 hours, and waiting at
// once. The caller checks and records under one lock (see Admission).
struct AdmissionLimits {
  int clientRate = 300;     // per address per minute; 0: no limit
  int dailyCalls = 10000;   // in all per 24 hours; 0: no limit
  int maxQueued = 1000;     // waiting at once; 0: no limit
};

// What each client address did over the last 24 hours, by the hour.
struct ClientActivity {
  std::string address;
  long long accepted = 0, refused = 0;
};

class Admission {
 public:
  explicit Admission(AdmissionLimits limits) : limits_(limits) {}
  // Seeds the 24-hour window (the creation times of calls already stored).
  void Seed(const std::vector<long long>& acceptedMs);
  // The calls other gateways on the same store accepted, as last counted there: in the last 24
  // hours, and per client address in the last minute. They count against the limits beside
  // this gateway's own.
  void SetOthers(long long today, std::map<std::string, long long> minute);
  // Whether one more call from `address` may be accepted, with `waiting` calls waiting now. On
  // yes a place is held (see Accepted / Released); on no `reason` says why and `kind` counts it.
  bool TryAdmit(const std::string& address, long long nowMs, long long waiting, std::string& reason, Refusal& kind);
  // The call held by TryAdmit could not be stored after all.
  void Released(const std::string& address, long long nowMs);
  // A refused request (any reason) from `address`.
  void Refused(const std::string& address, long long nowMs);
  // Per address, most requests first.
  std::vector<ClientActivity> Activity(long long nowMs);

 private:
  struct Hourly {
    std::array<long long, 24> accepted{}, refused{};
    std::array<long long, 24> hour{};  // which hour (since the epoch) each slot holds
  };
  void Count(const std::string& address, long long nowMs, bool accepted, int delta);
  void Expire(long long nowMs);

  AdmissionLimits limits_;
  std::mutex mu_;
  std::map<std::string, std::deque<long long>> minute_;  // accepted per address, last minute
  std::deque<long long> day_;                            // accepted in all, last 24 hours
  long long othersToday_ = 0;                            // see SetOthers
  std::map<std::string, long long> othersMinute_;
  std::map<std::string, Hourly> activity_;
};

constexpr size_t kMaxTrackedClients = 4096;  // further addresses are counted as "other"
}  // namespace talmery
