#pragma once
#include <windows.h>

// Set on every start-up path that does not connect the Outlook sink; the exit step disconnects
// the sink only while it is 0.
extern BOOL g_bNoSink;

// The Outlook connection step of a hidden start: creates "Outlook.Application", checks its
// version and advises the sink. TRUE when the sink is connected; on failure the user has seen
// the message that belongs to it (if any) and g_bNoSink is 1.
BOOL ConnectOutlookSink();

// The exit step: disconnects the sink when start-up connected it.
void DisconnectOutlookSinkIfConnected();
