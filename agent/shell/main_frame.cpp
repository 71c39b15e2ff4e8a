#include "agent/shell/main_frame.h"

#include <memory>

#include "agent/calls/reminder_call.h"
#include "agent/outlook/start_ledger.h"
#include "agent/res/resource.h"
#include "agent/shell/setup_dialog.h"

namespace {

constexpr DWORD kToolBarStyle =
    WS_CHILD | WS_VISIBLE | CBRS_TOP | CBRS_GRIPPER | CBRS_TOOLTIPS | CBRS_FLYBY | CBRS_SIZE_DYNAMIC;
static_assert(kToolBarStyle == 0x50402834, "toolbar style");
constexpr DWORD kStatusBarStyle = WS_CHILD | WS_VISIBLE | CBRS_BOTTOM;
static_assert(kStatusBarStyle == 0x50008200, "status bar style");

// The message pane, then the key indicators.
const UINT kIndicators[] = {ID_SEPARATOR, ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL};

}  // namespace

const fw::CommandMap* CMainFrame::GetCommandMap() const {
  static const fw::CommandMap map(CMDIFrameWnd::GetCommandMap(),
                                  {fw::OnCommand(ID_FILE_SETUP, &CMainFrame::OnSetup)});
  return &map;
}

int CMainFrame::OnCreate(LPCREATESTRUCTA cs) {
  if (CMDIFrameWnd::OnCreate(cs) == -1) return -1;

  if (!m_wndToolBar.CreateEx(this, TBSTYLE_FLAT, kToolBarStyle, AFX_IDW_TOOLBAR) ||
      !m_wndToolBar.LoadToolBar(IDR_MAINFRAME)) {
    return -1;
  }
  if (!m_wndStatusBar.Create(this, kStatusBarStyle, AFX_IDW_STATUS_BAR) ||
      !m_wndStatusBar.SetIndicators(kIndicators, static_cast<int>(std::size(kIndicators)))) {
    return -1;
  }

  DockControlBar(&m_wndToolBar);
  return 0;
}

LRESULT CMainFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kOutlookEndedMessage) {
    if (path_.outlookEnded) path_.outlookEnded();
    return 0;
  }
  if (message != kReminderQueuedMessage) return CMDIFrameWnd::WindowProc(message, wParam, lParam);
  // One record per wake-up, so that painting and menus get their turn between calls. The
  // message's parameters mean nothing: only records this process queued are taken.
  std::unique_ptr<ReminderRecord> record = path_.handOver ? path_.handOver->Take() : nullptr;
  if (!record) return 0;
  const double now = path_.clock ? path_.clock() : 0;
  if (path_.called) {
    path_.called->Note(ReminderKey(record->m_strEntryId, OleDateToSeconds(record->start)), OleDateToSeconds(now));
  }
  FollowedCall follow;
  const Outcome outcome = MakeReminderCall(std::move(record), now, path_.follow ? &follow : nullptr);
  if (!outcome && path_.tell) path_.tell(outcome);
  if (outcome && !follow.requestId.empty()) path_.follow(std::move(follow));
  return 0;
}

void CMainFrame::OnSetup() {
  // Found before the dialog runs: the document whose views show the settings now.
  CDocument* document = nullptr;
  if (CMDIChildWnd* child = MDIGetActive()) document = child->GetActiveDocument();

  CSetupDlg dialog;
  if (dialog.DoModal() == IDOK && document) document->UpdateAllViews(nullptr, 0, nullptr);
}
