#pragma once
// CStatusBar: a comctl32 status bar with a stretching message pane (ID_SEPARATOR) and fixed
// indicator panes sized to their string (e.g. "CAP" for ID_INDICATOR_CAPS, shown while the key
// state is on).
#include <string>
#include <vector>

#include "agent/framework/control_bar.h"

class CStatusBar : public CControlBar {
 public:
  CStatusBar();
  ~CStatusBar() override;

  BOOL Create(CWnd* pParentWnd, DWORD dwStyle = WS_CHILD | WS_VISIBLE | CBRS_BOTTOM,
              UINT nID = AFX_IDW_STATUS_BAR);
  // One pane per id; each non-zero id's string gives the pane's width and text.
  BOOL SetIndicators(const UINT* lpIDArray, int nIDCount);

  int GetCount() const { return static_cast<int>(ids_.size()); }
  UINT GetItemID(int index) const { return ids_.at(static_cast<size_t>(index)); }
  BOOL SetPaneText(int index, const char* text);
  std::string GetPaneText(int index) const;

  void OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler) override;
  int CalcHeight(int width) override;
  void OnSize(UINT type, int cx, int cy) override;

 private:
  void UpdateParts();
  std::vector<UINT> ids_;
  std::vector<std::string> texts_;  // indicator texts (empty for the message pane)
  std::vector<int> widths_;
};
