#pragma once
// The MDI main frame with toolbar and status bar around the settings documents. It is also the
// receiving end of the reminder hand-over from the Outlook side (see WindowProc): the second stop
// of a reminder, after the sink (agent/outlook/reminder_sink.cpp) and before the call
// (agent/calls/reminder_call.cpp). And home of File > Setup (agent/shell/setup_dialog.h).
#include <functional>

#include "agent/calls/call_follow.h"
#include "agent/calls/ole_date.h"
#include "agent/calls/outcome.h"
#include "agent/framework/afx.h"
#include "agent/outlook/reminder_sink.h"
#include "agent/outlook/session_record.h"

// Posted to the main window when Outlook has closed or is gone; wParam and lParam are 0.
constexpr UINT kOutlookEndedMessage = WM_APP + 102;

class CMainFrame : public CMDIFrameWnd {
 public:
  // What the frame calls reminders with, given by the application; each part may be left empty
  // (a visible agent serves no Outlook).
  struct ReminderPath {
    ReminderHandOver* handOver = nullptr;  // the records the sink queued for this window
    SessionRecord* called = nullptr;       // this Outlook session's record of what was called
    LocalClock clock;                      // the time the calls are made at
    std::function<void(const Outcome&)> tell;  // what a call that failed has to tell the user
    std::function<void(FollowedCall)> follow;  // an accepted call to follow to its end
    std::function<void()> outlookEnded;        // Outlook has closed or is gone
  };

  CMainFrame() = default;
  void SetReminderPath(ReminderPath path) { path_ = std::move(path); }

  // The wake-up of the reminder hand-over (kReminderQueuedMessage): the oldest queued record is
  // noted in the session's record (as its request goes out, not when it was queued: an agent
  // ended with calls still queued leaves those to the next one), goes to MakeReminderCall with
  // the clock's time, and what failed goes to tell. Outlook's end (kOutlookEndedMessage) goes to
  // outlookEnded. Everything else takes the framework's way.
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  int OnCreate(LPCREATESTRUCTA cs) override;

  // File > Setup: edits the settings and repaints the active document's views after OK.
  void OnSetup();

 protected:
  const fw::CommandMap* GetCommandMap() const override;

  CStatusBar m_wndStatusBar;
  CToolBar m_wndToolBar;

 private:
  ReminderPath path_;
};
