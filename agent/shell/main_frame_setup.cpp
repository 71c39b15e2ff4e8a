// File > Setup, the main frame's command.
#include "agent/shell/main_frame.h"
#include "agent/shell/setup_dlg.h"

void CMainFrame::OnSetup() {
  // Found before the dialog runs: the document whose views show the settings now.
  CDocument* document = nullptr;
  if (CMDIChildWnd* child = MDIGetActive()) document = child->GetActiveDocument();

  CSetupDlg dialog;
  if (dialog.DoModal() == IDOK && document) document->UpdateAllViews(nullptr, 0, nullptr);
}
