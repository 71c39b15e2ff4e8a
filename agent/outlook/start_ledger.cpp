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
