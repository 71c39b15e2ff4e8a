#include "tools/outlook-sim/message_filter.h"

#include "tools/outlook-sim/sim_log.h"

namespace sim {

STDMETHODIMP MessageFilter::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMessageFilter)) return E_NOINTERFACE;
  *ppv = static_cast<IMessageFilter*>(this);
  return S_OK;
}

void MessageFilter::BusyFor(int64_t ms, bool reject) {
  busyUntil_ = GetTickCount64() + static_cast<uint64_t>(ms);
  reject_ = reject;
  LogLine("Busy for " + std::to_string(ms) + "ms" + (reject ? " reject" : ""));
}

STDMETHODIMP_(DWORD) MessageFilter::HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) {
  if (GetTickCount64() < busyUntil_) {
    LogLine(reject_ ? "Busy rejected call" : "Busy retry-later call");
    return reject_ ? SERVERCALL_REJECTED : SERVERCALL_RETRYLATER;
  }
  return SERVERCALL_ISHANDLED;
}

STDMETHODIMP_(DWORD) MessageFilter::RetryRejectedCall(HTASK, DWORD elapsedMs, DWORD rejectType) {
  // A sink that is busy gets 30 s; a call it refused outright is not repeated.
  if (rejectType == SERVERCALL_RETRYLATER && elapsedMs < 30000) return 100;
  return static_cast<DWORD>(-1);
}

STDMETHODIMP_(DWORD) MessageFilter::MessagePending(HTASK, DWORD, DWORD) {
  return PENDINGMSG_WAITDEFPROCESS;
}

}  // namespace sim
