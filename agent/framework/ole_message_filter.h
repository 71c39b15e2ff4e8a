#pragma once
// The framework's OLE message filter (see AfxOleInit): one static instance per process.
#include <windows.h>
#include <objidl.h>

namespace fw {

class OleMessageFilter : public IMessageFilter {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }   // static lifetime
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD callType, HTASK caller, DWORD tickCount,
                                             LPINTERFACEINFO interfaceInfo) override;
  // A delay of 100 ms or more before retrying, or (DWORD)-1 to cancel the call.
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK callee, DWORD tickCount, DWORD rejectType) override;
  DWORD STDMETHODCALLTYPE MessagePending(HTASK callee, DWORD tickCount, DWORD pendingType) override;
};

OleMessageFilter& TheOleMessageFilter();

}  // namespace fw
