#include "tools/outlook-sim/guard.h"

#include <map>

#include "tools/outlook-sim/script/log_text.h"
#include "tools/outlook-sim/sim_log.h"
#include "tools/outlook-sim/stopwatch.h"

namespace sim {
namespace {

struct Setting {
  GuardSetting mode = GuardSetting::Off;
  int64_t promptMs = 0;
};

// The simulator's one thread sets and reads it.
std::map<Member, Setting>& Settings() {
  static std::map<Member, Setting> settings;
  return settings;
}

// Serves calls and messages for ms, as a modal prompt's loop does. A WM_QUIT that arrives
// meanwhile is put back for the main loop.
void ServeFor(int64_t ms) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

}  // namespace

void SetGuard(Member member, GuardSetting mode, int64_t promptMs) {
  if (mode == GuardSetting::Off) {
    Settings().erase(member);
  } else {
    Settings()[member] = Setting{mode, promptMs};
  }
}

bool PassGuard(const std::string& objectName, const MemberInfo& member, EXCEPINFO* excep) {
  const auto found = Settings().find(member.member);
  if (found == Settings().end()) return true;
  const Setting setting = found->second;
  if (setting.mode == GuardSetting::Prompt) {
    Stopwatch watch;
    ServeFor(setting.promptMs);
    LogLine("Guard prompt " + objectName + " " + member.name + " ms=" + FormatMs(watch.Ms()));
    return true;
  }
  LogLine("Guard denied " + objectName + " " + member.name);
  if (excep) {
    *excep = EXCEPINFO();
    excep->bstrSource = SysAllocString(L"Microsoft Outlook");
    excep->bstrDescription = SysAllocString(L"Operation aborted");
    excep->scode = E_ABORT;
  }
  return false;
}

}  // namespace sim
