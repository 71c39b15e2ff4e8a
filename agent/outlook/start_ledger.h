#pragma once
// Which reminders the start-up look at Outlook's Reminders has called, so that none is called
// twice: Outlook may raise the Reminder event for a reminder just as the agent finds it among
// those already due (the event right after the Advise, or one delivered while the agent walks
// the collection). Free of Windows.
//
// A reminder is named by its key (ReminderKey): the item's EntryID and the start it is due for.
#include <cstdint>
#include <map>
#include <set>
#include <string>

// EntryID and start (seconds, OleDateToSeconds) as one key.
std::string ReminderKey(const std::string& entryId, long long startSeconds);

// How long before its coming due a call still counts as made for it: the start-up look reads the
// clock after the reminder's own event may have.
constexpr long long kSameDueSeconds = 60;

// A reminder that came due at dueSeconds was already called for this coming due by a call at
// calledSeconds (by this agent, or an earlier one that served the same Outlook): the call came
// at it or after it (a start-up look calls what came due while nobody listened), or at most
// kSameDueSeconds before it. A reminder due again later (snoozed: five minutes at the least) is
// called again.
bool CalledForComingDue(long long calledSeconds, long long dueSeconds);

// The name of the record of what was called for one Outlook session: Outlook's process id and
// creation time (a FILETIME count; the id alone may name a later process), "<pid>.<created>".
std::string SessionName(uint32_t pid, uint64_t created);
// The pid and creation time of a name SessionName made; false for any other text.
bool ParseSessionName(const std::string& name, uint32_t* pid, uint64_t* created);

class StartLedger {
 public:
  // How long after the start-up call an event for the same reminder still counts as the same
  // coming due. A reminder snoozed and due again later (five minutes at the least) is called again.
  static constexpr long long kSameDueSeconds = ::kSameDueSeconds;

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
