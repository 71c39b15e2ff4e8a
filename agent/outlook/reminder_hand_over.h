#pragma once
// The way of a ReminderRecord from Outlook's Reminder event to the window that makes the call.
// Owned by the application, which names the window once it exists; the sink queues, the window
// takes. Both ends run on the user-interface thread.
#include <windows.h>

#include <deque>
#include <memory>

#include "agent/calls/call_text.h"

// Posted to the target window once per record queued; wParam and lParam are 0. The records wait
// in the hand-over, inside this process; the window is only woken, by a private message that
// carries nothing. A message posted by anyone else can therefore neither hand over a made-up
// record nor free anything: at most it makes the window look at the queue early.
constexpr UINT kReminderQueuedMessage = WM_APP + 101;

class ReminderHandOver {
 public:
  ReminderHandOver() = default;
  ReminderHandOver(const ReminderHandOver&) = delete;
  ReminderHandOver& operator=(const ReminderHandOver&) = delete;

  // The window that takes the records; none (null) until it exists.
  void SetTarget(HWND window) { target_ = window; }

  // Queues the record and wakes the target window. False (the record is freed) when there is no
  // target window or the wake-up could not be posted.
  bool Queue(std::unique_ptr<ReminderRecord> record);

  // The oldest queued record, or null when none waits.
  std::unique_ptr<ReminderRecord> Take();

 private:
  HWND target_ = nullptr;
  std::deque<std::unique_ptr<ReminderRecord>> records_;
};
