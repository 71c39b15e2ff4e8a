#include "agent/framework/ole/ole.h"

#include <objbase.h>
#include <ocidl.h>

#include "common/win/com_ptr.h"

namespace {

bool oleInitialized = false;

// The framework's message filter (see AfxOleInit): one static instance; it runs none of our
// other code and throws nothing.
class MessageFilter final : public IMessageFilter {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMessageFilter)) {
      *object = static_cast<IMessageFilter*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // static lifetime
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
    return SERVERCALL_ISHANDLED;
  }
  // A delay of 100 ms or more before retrying, or (DWORD)-1 to cancel the call.
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD tickCount, DWORD rejectType) override {
    // tickCount: milliseconds since the call was first made. A flat refusal is final.
    if (rejectType == SERVERCALL_RETRYLATER && tickCount < fw::kRejectedCallRetryTimeoutMs) {
      return fw::kRejectedCallRetryDelayMs;
    }
    return static_cast<DWORD>(-1);
  }
  DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }
};

MessageFilter messageFilter;

bool OnSingleThreadedApartment() {
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  return SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && (type == APTTYPE_STA || type == APTTYPE_MAINSTA);
}

win::ComPtr<IConnectionPoint> FindConnectionPoint(LPUNKNOWN source, REFIID iid) {
  win::ComPtr<IConnectionPointContainer> container;
  win::ComPtr<IConnectionPoint> point;
  if (!source || FAILED(source->QueryInterface(IID_IConnectionPointContainer, container.put_void()))) return point;
  if (FAILED(container->FindConnectionPoint(iid, point.put()))) point.reset();
  return point;
}

}  // namespace

BOOL AfxOleInit() {
  if (oleInitialized) return TRUE;
  if (FAILED(OleInitialize(nullptr))) return FALSE;
  oleInitialized = true;
  IMessageFilter* previous = nullptr;
  if (SUCCEEDED(CoRegisterMessageFilter(&messageFilter, &previous)) && previous) previous->Release();
  return TRUE;
}

void AfxOleTerm() {
  if (!oleInitialized) return;
  IMessageFilter* previous = nullptr;
  if (SUCCEEDED(CoRegisterMessageFilter(nullptr, &previous)) && previous) previous->Release();
  OleUninitialize();
  oleInitialized = false;
}

namespace fw {

bool WaitServingOleCalls(HANDLE handle, DWORD timeoutMs) {
  const ULONGLONG start = GetTickCount64();
  const auto remaining = [&]() -> DWORD {
    if (timeoutMs == INFINITE) return INFINITE;
    const ULONGLONG spent = GetTickCount64() - start;
    return spent >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - spent);
  };
  if (OnSingleThreadedApartment()) {
    // The modal loop wakes only for messages that arrive after it starts; a call already queued
    // (it came in while the previous message was handled) would wait for the work. A nudge makes
    // the first wake happen at once. The nudge itself, a WM_NULL for the thread, is ignored later.
    PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
    // COM's modal loop: incoming calls are dispatched, other messages wait.
    for (;;) {
      DWORD index = 0;
      const HRESULT hr = CoWaitForMultipleHandles(0, remaining(), 1, &handle, &index);
      if (hr == S_OK) return true;
      if (hr != RPC_S_CALLPENDING) break;  // COM cannot wait here: a plain wait for the rest
      if (remaining() == 0) return false;
    }
  }
  return WaitForSingleObject(handle, remaining()) == WAIT_OBJECT_0;
}

}  // namespace fw

BOOL AfxConnectionAdvise(LPUNKNOWN source, REFIID iid, LPUNKNOWN sink, BOOL refCount, DWORD* cookie) {
  if (!sink || !cookie) return FALSE;
  const win::ComPtr<IConnectionPoint> point = FindConnectionPoint(source, iid);
  if (!point || FAILED(point->Advise(sink, cookie))) return FALSE;
  if (!refCount) sink->Release();
  return TRUE;
}

BOOL AfxConnectionUnadvise(LPUNKNOWN source, REFIID iid, LPUNKNOWN sink, BOOL refCount, DWORD cookie) {
  if (!sink) return FALSE;
  const win::ComPtr<IConnectionPoint> point = FindConnectionPoint(source, iid);
  if (!point) return FALSE;
  if (!refCount) sink->AddRef();
  if (SUCCEEDED(point->Unadvise(cookie))) return TRUE;
  // The connection point kept its reference: take back the one lent to it.
  if (!refCount) sink->Release();
  return FALSE;
}
