#pragma once
// The MDI main frame with toolbar and status bar around the settings documents. It is also the
// receiving end of the reminder hand-over from the Outlook side (see WindowProc) and home of
// File > Setup (agent/shell/setup_dialog.h).
#include "agent/framework/afx.h"

class CMainFrame : public CMDIFrameWnd {
 public:
  CMainFrame() = default;

  // The wake-up of the reminder hand-over (kReminderQueuedMessage): the oldest queued record goes
  // to MakeReminderCall, and what failed to the application's notifier. Outlook's end
  // (kOutlookEndedMessage) goes to the application, which ends the hidden agent. Everything else
  // takes the framework's way.
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  int OnCreate(LPCREATESTRUCTA cs) override;

  // File > Setup: edits the settings and repaints the active document's views after OK.
  void OnSetup();

 protected:
  const fw::CommandMap* GetCommandMap() const override;

  CStatusBar m_wndStatusBar;
  CToolBar m_wndToolBar;
};
