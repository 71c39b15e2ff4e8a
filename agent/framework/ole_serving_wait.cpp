#include "agent/framework/ole_serving_wait.h"

#include <objbase.h>


namespace fw {
namespace {

bool OnSingleThreadedApartment() {
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  return SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && (type == APTTYPE_STA || type == APTTYPE_MAINSTA);
}

}  // namespace

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
