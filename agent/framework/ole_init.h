#pragma once
// OLE initialisation of the program's single (user-interface) thread.
#include <windows.h>

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
}  // namespace fw
