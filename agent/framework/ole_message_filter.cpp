#include "agent/framework/ole_message_filter.h"

#include "agent/framework/ole_init.h"

namespace fw {

HRESULT OleMessageFilter::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMessageFilter)) {
    *object = static_cast<IMessageFilter*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

DWORD OleMessageFilter::HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) { return SERVERCALL_ISHANDLED; }

DWORD OleMessageFilter::RetryRejectedCall(HTASK, DWORD tickCount, DWORD rejectType) {
  // tickCount: milliseconds since the call was first made. A flat refusal is final.
  if (rejectType == SERVERCALL_RETRYLATER && tickCount < kRejectedCallRetryTimeoutMs) {
    return kRejectedCallRetryDelayMs;
  }
  return static_cast<DWORD>(-1);
}

DWORD OleMessageFilter::MessagePending(HTASK, DWORD, DWORD) { return PENDINGMSG_WAITDEFPROCESS; }

OleMessageFilter& TheOleMessageFilter() {
  static OleMessageFilter filter;
  return filter;
}

}  // namespace fw
