#pragma once
// The hand-over of reminder records from the Reminder event to the main window. The records wait
// in a queue that belongs to this process; the main window is only woken, by a private message
// that carries nothing. A message posted by anyone else can therefore neither hand over a made-up
// record nor free anything: at most it makes the window look at the queue early.
#include <windows.h>

#include <memory>

#include "agent/calls/reminder_record.h"

// Posted to the main window once per record queued; wParam and lParam are 0.
constexpr UINT kReminderQueuedMessage = WM_APP + 101;

// Queues the record for the application's main window and wakes it. False (the record is freed)
// when there is no main window or the wake-up could not be posted: the caller tells the user.
bool HandOverReminderRecord(std::unique_ptr<ReminderRecord> record);

// The oldest queued record, or null when none waits. For the main window, on the thread that
// queues them.
std::unique_ptr<ReminderRecord> TakeReminderRecord();
