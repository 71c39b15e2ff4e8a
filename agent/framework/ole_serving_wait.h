#pragma once
// Blocking work on a single-threaded apartment without blocking the apartment: the work runs on a
// worker thread while this thread waits in COM's modal loop, which serves incoming COM calls (an
// Outlook event arriving meanwhile is handled at once) and leaves every other message queued, in
// order, for the message loop.
#include <windows.h>

namespace fw {

// Waits until handle is signalled (true) or timeoutMs have passed (false; INFINITE waits for
// good). On a single-threaded apartment incoming COM calls are served meanwhile.
bool WaitServingOleCalls(HANDLE handle, DWORD timeoutMs);

}  // namespace fw
