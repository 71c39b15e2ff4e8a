#include "gateway/admission.h"

#include <algorithm>

namespace talmery {
namespace {

constexpr long long kMinuteMs = 60 * 1000;
constexpr long long kHourMs = 60 * kMinuteMs;
constexpr long long kDayMs = 24 * kHourMs;

}  // namespace

void Admission::Seed(const std::vector<long long>& acceptedMs) {
  std::lock_guard<std::mutex> lock(mu_);
  day_.assign(acceptedMs.begin(), acceptedMs.end());
  std::sort(day_.begin(), day_.end());
}

void Admission::SetOthers(long long today, std::map<std::string, long long> minute) {
  std::lock_guard<std::mutex> lock(mu_);
  othersToday_ = today;
  othersMinute_ = std::move(minute);
}

void Admission::Expire(long long nowMs) {
  while (!day_.empty() && day_.front() <= nowMs - kDayMs) day_.pop_front();
}

bool Admission::TryAdmit(const std::string& address, long long nowMs, long long waiting, std::string& reason,
                         Refusal& kind) {
  std::lock_guard<std::mutex> lock(mu_);
  Expire(nowMs);
  std::deque<long long>& minute = minute_[address];
  while (!minute.empty() && minute.front() <= nowMs - kMinuteMs) minute.pop_front();
  const auto others = othersMinute_.find(address);
  const long long fromHere = static_cast<long long>(minute.size()) + (others == othersMinute_.end() ? 0 : others->second);
  if (limits_.clientRate > 0 && fromHere >= limits_.clientRate) {
    kind = Refusal::ClientRate;
    reason = "more than " + std::to_string(limits_.clientRate) + " calls a minute from " + address +
             ": try again in a minute";
  } else if (limits_.dailyCalls > 0 && static_cast<long long>(day_.size()) + othersToday_ >= limits_.dailyCalls) {
    kind = Refusal::DailyCalls;
    reason = "the gateway has taken its " + std::to_string(limits_.dailyCalls) + " calls of the last 24 hours";
  } else if (limits_.maxQueued > 0 && waiting >= limits_.maxQueued) {
    kind = Refusal::QueueFull;
    reason = std::to_string(waiting) + " calls are waiting already: try again later";
  } else {
    minute.push_back(nowMs);
    day_.push_back(nowMs);
    Count(address, nowMs, true, 1);
    return true;
  }
  if (minute.empty()) minute_.erase(address);
  Count(address, nowMs, false, 1);
  return false;
}

void Admission::Released(const std::string& address, long long nowMs) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = minute_.find(address);
  if (it != minute_.end() && !it->second.empty()) it->second.pop_back();
  if (!day_.empty()) day_.pop_back();
  Count(address, nowMs, true, -1);
  Count(address, nowMs, false, 1);
}

void Admission::Refused(const std::string& address, long long nowMs) {
  std::lock_guard<std::mutex> lock(mu_);
  Count(address, nowMs, false, 1);
}

void Admission::Count(const std::string& address, long long nowMs, bool accepted, int delta) {
  auto it = activity_.find(address);
  if (it == activity_.end()) {
    if (activity_.size() >= kMaxTrackedClients) it = activity_.emplace("other", Hourly{}).first;
    else it = activity_.emplace(address, Hourly{}).first;
  }
  const long long hour = nowMs / kHourMs;
  const size_t slot = static_cast<size_t>(hour % 24);
  Hourly& h = it->second;
  if (h.hour[slot] != hour) {
    h.hour[slot] = hour;
    h.accepted[slot] = h.refused[slot] = 0;
  }
  (accepted ? h.accepted : h.refused)[slot] += delta;
  // The minute windows of quiet addresses go, so that many addresses do not pile up.
  if (minute_.size() > kMaxTrackedClients) {
    for (auto m = minute_.begin(); m != minute_.end();) {
      if (m->second.empty() || m->second.back() <= nowMs - kMinuteMs) m = minute_.erase(m);
      else ++m;
    }
  }
}

std::vector<ClientActivity> Admission::Activity(long long nowMs) {
  std::lock_guard<std::mutex> lock(mu_);
  const long long hour = nowMs / kHourMs;
  std::vector<ClientActivity> out;
  for (auto it = activity_.begin(); it != activity_.end();) {
    ClientActivity a;
    a.address = it->first;
    for (size_t slot = 0; slot < 24; ++slot) {
      // The current hour and the 23 before it.
      if (it->second.hour[slot] > hour - 24) {
        a.accepted += it->second.accepted[slot];
        a.refused += it->second.refused[slot];
      }
    }
    if (a.accepted == 0 && a.refused == 0) {
      it = activity_.erase(it);
      continue;
    }
    out.push_back(a);
    ++it;
  }
  std::sort(out.begin(), out.end(), [](const ClientActivity& x, const ClientActivity& y) {
    return x.accepted + x.refused != y.accepted + y.refused ? x.accepted + x.refused > y.accepted + y.refused
                                                            : x.address < y.address;
  });
  return out;
}

}  // namespace talmery
