#pragma once
// How long the agent keeps trying to reach an Outlook that is busy or turns calls away. Outlook
// starts the agent while it is still settling; a refusal then is no reason to give up at once.
#include <cstdint>

// True for the failures a busy or starting Outlook gives (the call was rejected, the server is
// still starting or too busy), which are worth another try; false for those that will not change
// (Outlook not registered, access refused, a member that fails).
bool IsTransientOutlookFailure(uint32_t hresult);

// The pause before the n-th retry (n >= 1): 250 ms, doubling, at most 2 s.
uint32_t OutlookRetryDelayMs(int retry);

// Retries stop once this much time has passed since the first try.
constexpr uint32_t kOutlookRetryBudgetMs = 15000;
