#pragma once
#include <memory>

#include "agent/calls/reminder_record.h"

// Turns one reminder into one call request to the gateway and tells the user when it fails.
// Takes the record over: it is gone when this returns, whatever the path. Returns 0 when no
// phone number was found (nothing sent), 1 when a request was attempted.
int MakeReminderCall(std::unique_ptr<ReminderRecord> record);
