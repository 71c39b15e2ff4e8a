#pragma once
// CMDIFrameWnd: the MDI main frame. Owns the MDI client, switches the menu bar between its own
// menu (no child open) and the active child's document menu, keeps the "Window" popup's list of
// children, and handles the window commands (New Window, Cascade, Tile, Arrange Icons).
#include "agent/framework/frame_wnd.h"

class CMDIChildWnd;

class CMDIFrameWnd : public CFrameWnd {
 public:
  CMDIFrameWnd();

  HWND m_hWndMDIClient = nullptr;

  // The active child frame (null when none); *pbMaximized tells whether it is maximized.
  CMDIChildWnd* MDIGetActive(BOOL* pbMaximized = nullptr) const;
  void MDIActivate(CWnd* child);
  void MDICascade() { ::SendMessageA(m_hWndMDIClient, WM_MDICASCADE, 0, 0); }
  void MDITile(UINT flags = MDITILE_HORIZONTAL) { ::SendMessageA(m_hWndMDIClient, WM_MDITILE, flags, 0); }
  void MDIIconArrange() { ::SendMessageA(m_hWndMDIClient, WM_MDIICONARRANGE, 0, 0); }
  // Puts `menu` (null: the frame's own menu) on the menu bar, with its "Window" popup (the popup
  // holding the window commands) as the MDI window list.
  void MDISetMenu(HMENU menu);
  // Chooses the menu for the active child (its document template's menu) or the frame's own.
  virtual void OnUpdateFrameMenu();

  CDocument* GetActiveDocument() override;
  CFrameWnd* GetActiveFrame() override;
  BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) override;
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnUpdateFrameTitle(BOOL bAddToTitle) override;
  void OnIdleUpdateCmdUI() override;
  void RecalcLayout(BOOL bNotify = TRUE) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  // Window commands.
  void OnWindowNew();
  BOOL OnMDIWindowCmd(UINT nID);  // Cascade, Tile, Arrange Icons
  void OnUpdateMDIWindowCmd(CCmdUI* ui);

 protected:
  BOOL OnCreateClient(LPCREATESTRUCTA cs, CCreateContext* pContext) override;
  const fw::CommandMap* GetCommandMap() const override;

 private:
  HMENU currentMenu_ = nullptr;
  bool destroying_ = false;
};
