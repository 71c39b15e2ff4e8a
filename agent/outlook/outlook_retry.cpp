#include "agent/outlook/outlook_retry.h"

namespace {

// HRESULT values, spelled out so that this file needs no system header.
constexpr uint32_t kTransient[] = {
    0x80010001u,  // RPC_E_CALL_REJECTED: the message filter turned the call away
    0x8001010Au,  // RPC_E_SERVERCALL_RETRYLATER: busy, try later
    0x80080005u,  // CO_E_SERVER_EXEC_FAILURE: the server did not start in time
    0x8000401Au,  // CO_E_APPDIDNTREG: started, but its class object is not there yet
    0x800706BAu,  // HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE): not yet listening
    0x800706BBu,  // HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY)
};

constexpr uint32_t kFirstDelayMs = 250;
constexpr uint32_t kLongestDelayMs = 2000;

}  // namespace

bool IsTransientOutlookFailure(uint32_t hresult) {
  for (uint32_t transient : kTransient) {
    if (hresult == transient) return true;
  }
  return false;
}

uint32_t OutlookRetryDelayMs(int retry) {
  uint32_t delay = kFirstDelayMs;
  for (int i = 1; i < retry && delay < kLongestDelayMs; ++i) delay *= 2;
  return delay < kLongestDelayMs ? delay : kLongestDelayMs;
}
