#pragma once
// CControlBar: a bar docked at one side of a frame (toolbar, status bar). The frame places it in
// RecalcLayout and asks it to update its items' command UI at idle time.
#include "agent/framework/afx_ids.h"
#include "agent/framework/wnd.h"

class CFrameWnd;

class CControlBar : public CWnd {
 public:
  CControlBar();
  ~CControlBar() override;

  // Updates each item through the frame's command routing (disabled when no handler).
  virtual void OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler) = 0;
  // Height (top/bottom bars) the bar needs at the given width.
  virtual int CalcHeight(int width);

  DWORD GetBarStyle() const { return m_dwStyle; }
  void SetBarStyle(DWORD dwStyle) { m_dwStyle = dwStyle; }
  void EnableDocking(DWORD dwDockStyle) { m_dwDockStyle = dwDockStyle; }
  BOOL IsVisible() const { return m_hWnd && ::IsWindowVisible(m_hWnd); }
  BOOL IsTop() const { return (m_dwStyle & CBRS_ALIGN_BOTTOM) == 0; }

  void PostNcDestroy() override;  // members of their frame: not deleted

  DWORD m_dwStyle = 0;      // CBRS_* bar style
  DWORD m_dwDockStyle = 0;

 protected:
  // Registers the bar with its parent frame (after the window exists).
  void AttachToFrame(CWnd* parent);
  CFrameWnd* frame_ = nullptr;
};
