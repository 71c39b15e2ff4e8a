#pragma once
// CMainFrame: the MDI main frame with toolbar and status bar. Also the receiving end of the
// reminder hand-over from the Outlook side (command 101, see OnCommand) and home of File > Setup.
#include "agent/framework/afx.h"

class CMainFrame : public CMDIFrameWnd {
 public:
  CMainFrame() = default;

  BOOL PreCreateWindow(CREATESTRUCTA& cs) override;
  // Command 101 with notification code 0 carries a ReminderRecord's address in lParam: it goes to
  // MakeReminderCall, which owns it from then on. Everything else takes the framework's routing.
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  int OnCreate(LPCREATESTRUCTA cs) override;

  // File > Setup: edits the settings and repaints the active document's views after OK.
  void OnSetup();

 protected:
  const fw::CommandMap* GetCommandMap() const override;

  CStatusBar m_wndStatusBar;
  CToolBar m_wndToolBar;
};
