#include "agent/framework/app_lock.h"

#include "agent/framework/main_window.h"

namespace {
LONG g_locks = 0;
BOOL g_userCtrl = TRUE;
}  // namespace

void AfxOleLockApp() { ++g_locks; }

void AfxOleUnlockApp() {
  if (g_locks <= 0) return;
  if (--g_locks == 0 && !g_userCtrl) {
    // The last object an automation client used is gone: end the application it started.
    if (HWND main = fw::GetMainWindowHandle()) ::PostMessageA(main, WM_CLOSE, 0, 0);
  }
}

LONG AfxOleGetLockCount() { return g_locks; }
BOOL AfxOleGetUserCtrl() { return g_userCtrl; }
void AfxOleSetUserCtrl(BOOL bUserCtrl) { g_userCtrl = bUserCtrl; }
