#pragma once
// CToolBar: a comctl32 toolbar of 16x15 button images loaded from a toolbar resource and the
// bitmap of the same id. Tooltips show the text after '\n' of each command's string; with
// CBRS_FLYBY the frame's status bar shows the text before '\n' while the mouse is on a button.
//
// Toolbar resource (type 241, RT_TOOLBAR_ID): WORD version 1, WORD width, WORD height,
// WORD count, then `count` WORD command ids (0 = separator). In a .rc file:
//   128 241 BEGIN 1, 16, 15, 3, 57600, 0, 57664 END
// The bitmap resource of the same id holds the images of the non-separator buttons side by side.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "agent/framework/control_bar.h"

class CToolBar : public CControlBar {
 public:
  CToolBar();
  ~CToolBar() override;

  // dwCtrlStyle: TBSTYLE_* (e.g. TBSTYLE_FLAT); dwStyle: WS_* | CBRS_*; borders are ignored.
  BOOL CreateEx(CWnd* pParentWnd, DWORD dwCtrlStyle = TBSTYLE_FLAT,
                DWORD dwStyle = WS_CHILD | WS_VISIBLE | CBRS_TOP, RECT rcBorders = RECT{0, 0, 0, 0},
                UINT nID = AFX_IDW_TOOLBAR);
  BOOL Create(CWnd* pParentWnd, DWORD dwStyle = WS_CHILD | WS_VISIBLE | CBRS_TOP, UINT nID = AFX_IDW_TOOLBAR);
  // Loads the buttons and the bitmap of resource nIDResource; FALSE when either is missing.
  BOOL LoadToolBar(UINT nIDResource);

  int GetCount() const { return static_cast<int>(ids_.size()); }
  UINT GetItemID(int index) const { return ids_.at(static_cast<size_t>(index)); }
  // TBSTATE_* of the button with command nID (-1 if none).
  int GetButtonState(UINT nID) const;

  void OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler) override;
  int CalcHeight(int width) override;

 private:
  std::vector<UINT> ids_;  // command ids in button order, 0 = separator
  HIMAGELIST images_ = nullptr;
};
