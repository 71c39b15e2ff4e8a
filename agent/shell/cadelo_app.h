#pragma once
// CCadeloApp: the application object. Chooses the mode from the command line (visible, or hidden
// with "/hidewindow yes" for the Outlook add-in), builds the frames, serves the settings
// document to automation clients and, hidden, keeps the connection to Outlook. Everything the
// user is told goes through its notifier.
#include "agent/calls/call_follower.h"
#include "agent/calls/notifier.h"
#include "agent/calls/outcome.h"
#include "agent/framework/afx.h"
#include "agent/outlook/outlook_connection.h"
#include "agent/outlook/outlook_process.h"
#include "agent/outlook/session_record.h"
#include "agent/shell/hidden_role.h"
#include "agent/shell/main_frame.h"
#include "agent/shell/shell_text.h"

class CCadeloApp : public CWinApp {
 public:
  CCadeloApp();

  BOOL InitInstance() override;
  int ExitInstance() override;

  void OnAppAbout();

  // Outlook has closed or is gone (kOutlookEndedMessage): lets go of it and ends the hidden
  // agent, quietly, once the records already handed over have been called.
  void OnOutlookEnded();

  // What the main frame calls reminders with: this application's hand-over, session record,
  // clock and notifier.
  CMainFrame::ReminderPath ReminderPath();

 protected:
  const fw::CommandMap* GetCommandMap() const override;

 private:
  COleTemplateServer m_server;
  // Shows the reminder path's messages to the user, one box at a time, on a thread of its own.
  Notifier notifier_;
  // Follows the accepted calls to their end and tells through notifier_ what did not reach the
  // user; what it still follows when the agent ends goes to the next agent (follow_handover.h).
  CallFollower follower_;
  // Filled by outlook_'s sink, emptied by the main frame; before outlook_, which it outlives.
  ReminderHandOver reminders_;
  // What the agents of this Outlook session have called: read by outlook_'s sink at start-up,
  // noted by the main frame as each call goes out; before outlook_, which it outlives.
  SessionRecord called_;
  // Connected only in the hidden mode; its reminder events tell the user through notifier_.
  OutlookConnection outlook_;
  // The Outlook process the hidden agent serves: named by the add-in, or found.
  OutlookProcess outlookProcess_;
  // Answers other hidden agents that this one serves Outlook, from the claim of the role on.
  HiddenRoleAnswer roleAnswer_;
  // Outlook has ended: the role is no longer served.
  bool outlookEnded_ = false;
};

// Class id under which the settings document type is served and registered.
extern const CLSID CLSID_CadeloDocument;

// The About box (dialog 100).
class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
};

// The command line of cadelo: its own options (see CadeloCommandLineOptions) on top of the
// framework's record. Plain arguments with no option pending go to the framework (the first one
// names a document to open); flags never do, so the framework's own switches stay unused.
class CCadeloCommandLineInfo : public CCommandLineInfo, public CadeloCommandLineOptions {
 public:
  void ParseParam(const char* pszParam, BOOL bFlag, BOOL bLast) override;
};
