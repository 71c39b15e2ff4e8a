#pragma once
// Which reminders the start-up look at Outlook's Reminders has called, so that none is called
// twice: Outlook may raise the Reminder event for a reminder just as the agent finds it among
// those already due (the event right after the Advise, or one delivered while the agent walks
// the collection). Free of Windows.
//
// A reminder is named by its key (ReminderKey): the item's EntryID and the start it is due for.
#include <map>
#include <set>
#include <string>

// EntryID and start (seconds, OleDateToSeconds) as one key.
std::string ReminderKey(const std::string& entryId, long long startSeconds);

class StartLedger {
 public:
  // How long after the start-up call an event for the same reminder still counts as the same
  // coming due. A reminder snoozed and due again later (five minutes at the least) is called again.
  static constexpr long long kSameDueSeconds = 60;

  // The start-up look may call the reminder: no event has called it before the look ended.
  bool StartupMayCall(const std::string& key) const { return eventCalls_.count(key) == 0; }
  void NoteStartupCall(const std::string& key, long long nowSeconds) { startupCalls_[key] = nowSeconds; }
  // The start-up look has ended: events are no longer noted for it.
  void StartupDone() {
    startupDone_ = true;
    eventCalls_.clear();
  }

  // An event's reminder may be called: the start-up look did not call it within kSameDueSeconds.
  // A match is taken once, so a second event (the reminder due again) is called. Each event
  // call is noted for the look while it runs.
  bool EventMayCall(const std::string& key, long long nowSeconds);

 private:
  std::map<std::string, long long> startupCalls_;
  std::set<std::string> eventCalls_;
  bool startupDone_ = false;
};
