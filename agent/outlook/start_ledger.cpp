#include "agent/outlook/start_ledger.h"

std::string ReminderKey(const std::string& entryId, long long startSeconds) {
  // The start first: an EntryID may hold any character, the number never holds a '|'.
  return std::to_string(startSeconds) + "|" + entryId;
}

bool StartLedger::EventMayCall(const std::string& key, long long nowSeconds) {
  const auto called = startupCalls_.find(key);
  if (called != startupCalls_.end()) {
    const long long calledAt = called->second;
    startupCalls_.erase(called);
    if (nowSeconds - calledAt <= kSameDueSeconds && nowSeconds >= calledAt) return false;
  }
  if (!startupDone_) eventCalls_.insert(key);
  return true;
}

bool CalledForComingDue(long long calledSeconds, long long dueSeconds) {
  return calledSeconds >= dueSeconds - kSameDueSeconds;
}

std::string SessionName(uint32_t pid, uint64_t created) {
  return std::to_string(pid) + "." + std::to_string(created);
}

namespace {

// Decimal digits only (no sign, no blank), at least one, within max.
bool ParseDecimal(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (result > (max - digit) / 10) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}

}  // namespace

bool ParseSessionName(const std::string& name, uint32_t* pid, uint64_t* created) {
  const size_t dot = name.find('.');
  if (dot == std::string::npos) return false;
  uint64_t id = 0;
  uint64_t time = 0;
  if (!ParseDecimal(name.substr(0, dot), UINT32_MAX, &id) || !ParseDecimal(name.substr(dot + 1), UINT64_MAX, &time)) {
    return false;
  }
  // Only the one spelling SessionName gives: no leading zeros.
  if (SessionName(static_cast<uint32_t>(id), time) != name) return false;
  *pid = static_cast<uint32_t>(id);
  *created = time;
  return true;
}
