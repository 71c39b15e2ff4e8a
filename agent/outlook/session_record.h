#pragma once
// What the hidden agents of one Outlook session have called, so that a reminder is called once
// however often the agent is replaced while Outlook runs (the add-in disabled and enabled again,
// an agent ended and started anew): the start-up look of the next agent passes over what an
// earlier one called.
//
// The record is the volatile key HKCU\Software\Brisomel\Called\<pid>.<creation time> of the
// Outlook process it belongs to (SessionName): one value per call, named by the reminder's key
// (ReminderKey), holding when it was called (seconds, OleDateToSeconds, REG_QWORD). Volatile, so
// a logoff clears what an ending could not; the agent removes its own record when its Outlook
// ends, and any record whose Outlook no longer runs when it opens one. Without a record (the
// registry refuses) the calls are remembered in this agent only.
#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "common/win/handles.h"

class SessionRecord {
 public:
  SessionRecord() = default;
  SessionRecord(const SessionRecord&) = delete;
  SessionRecord& operator=(const SessionRecord&) = delete;

  // Opens (or starts) the record of the Outlook process pid created at created (a FILETIME count)
  // and reads what it holds; first removes the records of Outlooks that no longer run. False when
  // no record could be opened.
  bool Open(uint32_t pid, uint64_t created);
  // A record of the session is open: what earlier agents called is known.
  bool Shared() const { return static_cast<bool>(key_); }
  // When the Outlook of the session started (local time, an OLE date); 0 before Open.
  double OutlookStarted() const { return outlookStarted_; }

  // When the reminder was last called in this session; none when it was not.
  std::optional<long long> CalledAt(const std::string& reminderKey) const;
  void Note(const std::string& reminderKey, long long calledSeconds);

  // Outlook's session is over: the record goes.
  void Remove();

 private:
  win::RegKey key_;
  std::string name_;
  double outlookStarted_ = 0;
  std::map<std::string, long long> calls_;
};
