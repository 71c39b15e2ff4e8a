#include "agent/shell/hidden_agent_claim.h"

#include <windows.h>

#include <utility>

#include "common/win/handles.h"

namespace {

// Local\: one per logon session, so that each user of a shared machine has an agent of their own.
constexpr wchar_t kMutexName[] = L"Local\\Brisomel.HiddenAgent";
constexpr DWORD kEndingAgentWaitMs = 3000;

}  // namespace

bool ClaimHiddenAgentRole() {
  // Held until the process ends.
  static win::KernelHandle claim;
  if (claim) return true;
  win::KernelHandle mutex(::CreateMutexW(nullptr, FALSE, kMutexName));
  if (!mutex) return true;  // no means to tell: serve rather than leave Outlook without an agent
  const DWORD waited = ::WaitForSingleObject(mutex.get(), kEndingAgentWaitMs);
  // An abandoned mutex is one whose agent died without letting go: ours now.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
  claim = std::move(mutex);
  return true;
}
