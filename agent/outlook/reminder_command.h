#pragma once
// The hand-over of a reminder record to the main window: WM_COMMAND with command id 101 and the
// record's address as lParam. The main window's command handler takes ownership of the record.
#include <windows.h>

#include <memory>

#include "agent/calls/reminder_record.h"

constexpr UINT kReminderCommandId = 101;

// Posts the record to the application's main window. On success the record belongs to the
// receiver; when there is no main window or the post fails, the record is freed here and the
// result is false.
bool PostReminderRecord(std::unique_ptr<ReminderRecord> record);
