#pragma once
// The apartment's message filter. While "busy" it turns incoming calls away as Outlook does while
// it starts (SERVERCALL_RETRYLATER, or SERVERCALL_REJECTED on request); it retries the
// simulator's own event calls that a busy sink turns away, for a bounded time.
#include <objbase.h>

#include <cstdint>

namespace sim {

class MessageFilter final : public IMessageFilter {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }   // static lifetime
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP_(DWORD) HandleInComingCall(DWORD type, HTASK caller, DWORD tick,
                                          LPINTERFACEINFO info) override;
  STDMETHODIMP_(DWORD) RetryRejectedCall(HTASK callee, DWORD elapsedMs, DWORD rejectType) override;
  STDMETHODIMP_(DWORD) MessagePending(HTASK callee, DWORD elapsedMs, DWORD pendingType) override;

  // reject: SERVERCALL_REJECTED instead of SERVERCALL_RETRYLATER.
  void BusyFor(int64_t ms, bool reject);

 private:
  uint64_t busyUntil_ = 0;
  bool reject_ = false;
};

}  // namespace sim
