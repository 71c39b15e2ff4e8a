#pragma once
// The windows around the settings: the MDI main frame with toolbar and status bar, the document
// window holding one settings view, and the Setup dialog. The main frame is also the receiving
// end of the reminder hand-over from the Outlook side (see WindowProc) and home of File > Setup.
#include <string>

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

// The document window holding one settings view.
class CChildFrame : public CMDIChildWnd {};

// The TCP ports a gateway can listen on.
constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;

// Edits the gateway's host and port and the user's number and names (dialog 130). Reads the
// settings once, when constructed; OK stores all five.
class CSetupDlg : public CDialog {
 public:
  explicit CSetupDlg(CWnd* pParent = nullptr);

  std::string m_strHost;
  int m_nPort = 0;
  std::string m_strMyNumber;
  std::string m_strFirstName;
  std::string m_strLastName;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  void OnOK() override;
};
