#pragma once
#include <memory>

#include "agent/calls/reminder_record.h"

// Turns one reminder into one call request to the gateway and tells the user (through Notify)
// when it fails. now is the current local time (OLE date): the spoken text says how much time is
// left until the appointment's start. Takes the record over: it is gone when this returns,
// whatever the path. Returns 0 when no phone number was found (nothing sent), 1 when a request
// was attempted.
int MakeReminderCall(std::unique_ptr<ReminderRecord> record, double now);
