#pragma once
// CCadeloApp: the application object. Chooses the mode from the command line (visible, or hidden
// with "/hidewindow yes" for the Outlook add-in), builds the frames, serves the settings
// document to automation clients and, hidden, keeps the connection to Outlook. Everything the
// user is told goes through its notifier.
#include "agent/calls/notifier.h"
#include "agent/calls/outcome.h"
#include "agent/framework/afx.h"
#include "agent/outlook/outlook_connection.h"
#include "agent/outlook/outlook_process.h"
#include "agent/outlook/session_record.h"
#include "agent/shell/hidden_role.h"
#include "agent/shell/shell_text.h"

class CCadeloApp : public CWinApp {
 public:
  CCadeloApp();

  BOOL InitInstance() override;
  int ExitInstance() override;

  void OnAppAbout();

  // Tells the user why an operation failed, in a box of its own thread: for the reminder path,
  // which never waits for the user. Nothing for a success.
  void Tell(const Outcome& outcome);

  // Outlook has closed or is gone (kOutlookEndedMessage): lets go of it and ends the hidden
  // agent, quietly, once the records already handed over have been called.
  void OnOutlookEnded();

  // The records of Outlook's reminders, on their way to the main frame that calls them.
  ReminderHandOver& Reminders() { return m_reminders; }
  // The reminder is being called now: noted in this Outlook session's record, so that no later
  // agent of the session calls it again for the same coming due. Noted as its request goes out,
  // not when it was queued: an agent ended with calls still queued leaves those to the next one.
  void NoteCalled(const ReminderRecord& record);

 protected:
  const fw::CommandMap* GetCommandMap() const override;

 private:
  COleTemplateServer m_server;
  // Shows the reminder path's messages to the user, one box at a time, on a thread of its own.
  Notifier m_notifier;
  // Filled by m_outlook's sink, emptied by the main frame; before m_outlook, which it outlives.
  ReminderHandOver m_reminders;
  // What the agents of this Outlook session have called, noted by m_outlook's sink; before
  // m_outlook, which it outlives.
  SessionRecord m_called;
  // Connected only in the hidden mode; its reminder events tell the user through m_notifier.
  OutlookConnection m_outlook;
  // The Outlook process the hidden agent serves: named by the add-in, or found.
  OutlookProcess m_outlookProcess;
  // Answers other hidden agents that this one serves Outlook, from the claim of the role on.
  HiddenRoleAnswer m_roleAnswer;
  // Outlook has ended: the role is no longer served.
  bool m_outlookEnded = false;
};

// Posted to the main window when Outlook has closed or is gone; wParam and lParam are 0.
constexpr UINT kOutlookEndedMessage = WM_APP + 102;

// The application object running, for the windows that tell the user something.
CCadeloApp& TheCadeloApp();

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
