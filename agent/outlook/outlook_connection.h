#pragma once
#include <windows.h>

// Set on every start-up path that does not connect the Outlook sink; the exit step disconnects
// the sink only while it is 0.
extern BOOL g_bNoSink;

// The Outlook connection step of a hidden start: creates "Outlook.Application" (trying again for
// a bounded time while Outlook is busy or turns calls away), checks its version and advises the
// sink. TRUE when the sink is connected; on failure the user has seen why (no Outlook, its version
// unreadable or too old, its events refused) and g_bNoSink is 1.
BOOL ConnectOutlookSink();

// The exit step: disconnects the sink when start-up connected it.
void DisconnectOutlookSinkIfConnected();
