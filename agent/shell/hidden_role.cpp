#include "agent/shell/hidden_role.h"

#include <utility>

#include "common/win/handles.h"

const char kRoleTakenOver[] =
    "Another program holds the role of Brisomel's hidden agent but does not serve Outlook (it may "
    "hang, or it is no Brisomel). This Brisomel serves Outlook's reminders instead.";

namespace {

// Local\: one per logon session, so that each user of a shared machine has an agent of their own.
constexpr wchar_t kMutexName[] = L"Local\\Brisomel.HiddenAgent";
constexpr wchar_t kAnswerClass[] = L"Brisomel.HiddenAgentRole";
constexpr DWORD kEndingAgentWaitMs = 3000;
constexpr UINT kHolderAnswerMs = 1000;
// The request: wParam the Outlook process id (0: any). The answer of an agent that serves it.
constexpr UINT kServesRequest = WM_APP + 0x4252;
constexpr LRESULT kServesAnswer = 0x4252534C;

// True when a holder's window answers, within a second, that it serves this Outlook.
bool HolderServes(uint32_t outlookPid) {
  HWND window = nullptr;
  while ((window = FindWindowExW(HWND_MESSAGE, window, kAnswerClass, nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == GetCurrentProcessId()) continue;
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(window, kServesRequest, outlookPid, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kHolderAnswerMs,
                            &answer) &&
        static_cast<LRESULT>(answer) == kServesAnswer) {
      return true;
    }
  }
  return false;
}

}  // namespace

HiddenRole ClaimHiddenAgentRole(uint32_t outlookPid) {
  // Held until the process ends; the system lets go of it however the process ends.
  static win::KernelHandle claim;
  if (claim) return HiddenRole::Claimed;
  win::KernelHandle mutex(CreateMutexW(nullptr, FALSE, kMutexName));
  if (!mutex) return HiddenRole::Claimed;  // no means to tell: serve rather than leave Outlook without an agent
  const DWORD waited = WaitForSingleObject(mutex.get(), kEndingAgentWaitMs);
  // An abandoned mutex is one whose agent died without letting go: ours now.
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    claim = std::move(mutex);
    return HiddenRole::Claimed;
  }
  return HolderServes(outlookPid) ? HiddenRole::Served : HiddenRole::TakenOver;
}

HiddenRoleAnswer::~HiddenRoleAnswer() {
  if (window_) DestroyWindow(window_);
}

bool HiddenRoleAnswer::Create() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &HiddenRoleAnswer::WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kAnswerClass;
  RegisterClassW(&windowClass);  // fails harmlessly when registered already
  window_ = CreateWindowExW(0, kAnswerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, this);
  return window_ != nullptr;
}

LRESULT CALLBACK HiddenRoleAnswer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  if (message == kServesRequest) {
    const auto* self = reinterpret_cast<HiddenRoleAnswer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self && self->serves_ && self->serves_(static_cast<uint32_t>(wParam)) ? kServesAnswer : 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
