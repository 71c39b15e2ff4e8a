#pragma once
// Control bars: CControlBar, a bar docked at one side of a frame, which the frame places in
// RecalcLayout and asks to update its items' command UI at idle time; CStatusBar and CToolBar.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "agent/framework/ui/afx_ids.h"
#include "common/win/handles.h"
#include "agent/framework/ui/wnd.h"

class CFrameWnd;

class CControlBar : public CWnd {
 public:
  ~CControlBar() override;

  // Updates each item through the frame's command routing (disabled when no handler).
  virtual void OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler) = 0;
  // Height (top/bottom bars) the bar needs at the given width.
  virtual int CalcHeight(int width);

  // A bar docks at the side its style aligns it to: top unless CBRS_ALIGN_BOTTOM.
  BOOL IsTop() const { return (m_dwStyle & CBRS_ALIGN_BOTTOM) == 0; }

  void PostNcDestroy() override {}  // members of their frame: not deleted

  DWORD m_dwStyle = 0;  // CBRS_* bar style

 protected:
  // Creates the common control of className as a child of `parent` (dwStyle: WS_* | CBRS_*, plus
  // the control's own windowStyle) and registers the bar with its frame.
  BOOL CreateBar(CWnd* parent, const char* className, DWORD dwStyle, DWORD windowStyle, UINT nID);
  // Updates each item of ids_ (0: none) through the frame's routing with `state`.
  void UpdateItems(CFrameWnd* pTarget, CCmdUI& state, BOOL bDisableIfNoHndler);
  CFrameWnd* frame_ = nullptr;
  std::vector<UINT> ids_;  // command ids in item order
};

// CStatusBar: a comctl32 status bar with a stretching message pane (ID_SEPARATOR) and fixed
// indicator panes sized to their string (e.g. "CAP" for ID_INDICATOR_CAPS, shown while the key
// state is on).
class CStatusBar : public CControlBar {
 public:
  BOOL Create(CWnd* pParentWnd, DWORD dwStyle = WS_CHILD | WS_VISIBLE | CBRS_BOTTOM,
              UINT nID = AFX_IDW_STATUS_BAR);
  // One pane per id; each non-zero id's string gives the pane's width and text.
  BOOL SetIndicators(const UINT* lpIDArray, int nIDCount);

  BOOL SetPaneText(int index, const char* text);
  std::string GetPaneText(int index) const;

  void OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler) override;
  void OnSize(UINT type, int cx, int cy) override;

 private:
  void UpdateParts();
  std::vector<std::string> texts_;  // indicator texts (empty for the message pane)
  std::vector<int> widths_;
};

// CToolBar: a comctl32 toolbar of 16x15 button images loaded from a toolbar resource and the
// bitmap of the same id. Tooltips show the text after '\n' of each command's string; with
// CBRS_FLYBY the frame's status bar shows the text before '\n' while the mouse is on a button.
//
// Toolbar resource (type 241, RT_TOOLBAR_ID): WORD version 1, WORD width, WORD height,
// WORD count, then `count` WORD command ids (0 = separator). In a .rc file:
//   128 241 BEGIN 1, 16, 15, 3, 57600, 0, 57664 END
// The bitmap resource of the same id holds the images of the non-separator buttons side by side.
namespace fw {
struct ImageListTraits {
  using Handle = HIMAGELIST;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ImageList_Destroy(h); }
};
using ImageList = win::UniqueHandle<ImageListTraits>;
}  // namespace fw

class CToolBar : public CControlBar {
 public:
  ~CToolBar() override;

  // dwCtrlStyle: TBSTYLE_* (e.g. TBSTYLE_FLAT); dwStyle: WS_* | CBRS_*.
  BOOL CreateEx(CWnd* pParentWnd, DWORD dwCtrlStyle = TBSTYLE_FLAT,
                DWORD dwStyle = WS_CHILD | WS_VISIBLE | CBRS_TOP, UINT nID = AFX_IDW_TOOLBAR);
  // Loads the buttons and the bitmap of resource nIDResource; FALSE when either is missing.
  BOOL LoadToolBar(UINT nIDResource);

  void OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler) override;
  int CalcHeight(int width) override;

 private:
  fw::ImageList images_;  // the toolbar's pictures: the control does not destroy them
};
