#pragma once
#include <memory>

#include "agent/calls/outcome.h"
#include "agent/calls/call_text.h"

// Turns one reminder into one call request to the gateway. now is the current local time (OLE
// date): the minutes left until the appointment's start are counted once, from it, for the
// spoken text and, when the record has no minutes of its own, for the request's firstocc. Takes
// the record over: it is gone when this returns, whatever the path. Fails, with the message for
// the user, when no phone number was found or a setting the call needs cannot be used (nothing
// sent then), or the gateway did not accept the request.
// With `follow`, an accepted call that the gateway gave a token for is described there (its
// gateway, id and token, what the box would name, when to ask first) for the follower; its
// requestId stays empty otherwise.
struct FollowedCall;
Outcome MakeReminderCall(std::unique_ptr<ReminderRecord> record, double now, FollowedCall* follow = nullptr);

// The system's local clock, to the second: the application gives it to the sink and the main
// frame (a LocalClock).
double CurrentLocalOleDate();
