#pragma once
// OLE on the program's single (user-interface) thread: start-up with the message filter, waiting
// without blocking the apartment, and event sinks on connection points.
#include <windows.h>
#include <ole2.h>

// Initialises OLE on this thread (a single-threaded apartment) and installs the framework's
// message filter: outgoing calls that a busy server rejects with SERVERCALL_RETRYLATER (as
// Outlook does while it starts) are retried every fw::kRejectedCallRetryDelayMs for up to
// fw::kRejectedCallRetryTimeoutMs, then cancelled (the call fails with RPC_E_CALL_REJECTED).
// Incoming calls are always accepted. FALSE when OLE could not be initialised.
BOOL AfxOleInit();

// Removes the message filter and uninitialises OLE, when AfxOleInit succeeded.
void AfxOleTerm();

namespace fw {

constexpr DWORD kRejectedCallRetryDelayMs = 100;
constexpr DWORD kRejectedCallRetryTimeoutMs = 60000;

// Waits until handle is signalled (true) or timeoutMs have passed (false; INFINITE waits for
// good) without blocking the apartment: blocking work runs on a worker thread while this thread
// waits here in COM's modal loop, which serves incoming COM calls (an Outlook event arriving
// meanwhile is handled at once) and leaves every other message queued, in order, for the
// message loop.
bool WaitServingOleCalls(HANDLE handle, DWORD timeoutMs);

}  // namespace fw

// Finds the source's connection point for iid (IConnectionPointContainer::FindConnectionPoint)
// and advises the sink on it, storing the cookie in *cookie. With refCount FALSE the reference
// the connection point took on the sink is given back at once, so the connection does not keep
// the sink alive. TRUE only when the container, the connection point and the advice all succeed.
BOOL AfxConnectionAdvise(LPUNKNOWN source, REFIID iid, LPUNKNOWN sink, BOOL refCount, DWORD* cookie);

// Undoes AfxConnectionAdvise for the same source, iid, sink and refCount. With refCount FALSE
// the sink gets back the reference the connection point is about to release.
BOOL AfxConnectionUnadvise(LPUNKNOWN source, REFIID iid, LPUNKNOWN sink, BOOL refCount, DWORD cookie);
