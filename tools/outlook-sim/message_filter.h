#pragma once
// The apartment's message filter. While "busy" it rejects incoming calls as Outlook does while
// it starts (SERVERCALL_RETRYLATER); it retries the simulator's own event calls that a busy sink
// rejects, for a bounded time.
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

  void BusyFor(int64_t ms);

 private:
  uint64_t busyUntil_ = 0;
};

}  // namespace sim
