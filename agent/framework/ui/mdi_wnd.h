#pragma once
// The multiple-document interface. CMDIFrameWnd, the main frame: owns the MDI client, switches
// the menu bar between its own menu (no child open) and the active child's document menu, keeps
// the "Window" popup's list of children, and handles the window commands (New Window, Cascade,
// Tile, Arrange Icons). CMDIChildWnd: a document window inside it.
#include "agent/framework/ui/frame_wnd.h"

class CMDIChildWnd;

class CMDIFrameWnd : public CFrameWnd {
 public:
  HWND m_hWndMDIClient = nullptr;

  // The active child frame (null when none); *pbMaximized tells whether it is maximized.
  CMDIChildWnd* MDIGetActive(BOOL* pbMaximized = nullptr) const;
  // Puts `menu` (null: the frame's own menu) on the menu bar, with its "Window" popup (the popup
  // holding the window commands) as the MDI window list.
  void MDISetMenu(HMENU menu);
  // Chooses the menu for the active child (its document template's menu) or the frame's own.
  virtual void OnUpdateFrameMenu();

  CDocument* GetActiveDocument() override;
  BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra) override;
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnUpdateFrameTitle(BOOL bAddToTitle) override;
  void OnIdleUpdateCmdUI() override;
  void RecalcLayout() override;
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

// CMDIChildWnd: a document window inside the MDI main frame. The document template creates it
// with LoadFrame; it holds one view, takes its menu and icon from the template's resource id and
// is titled after its document ("Cadel1", or "Cadel1:2" with several windows on it).
class CMDIChildWnd : public CFrameWnd {
 public:
  // Creates the child (WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE) in the main window's MDI client, with
  // the template's menu as m_hMenuShared and its icon.
  BOOL LoadFrame(UINT nIDResource, CCreateContext* pContext);
  BOOL PreCreateWindow(CREATESTRUCTA& cs) override;

  // Shows the frame for a freshly created document: activates the view, tells it of its document
  // (OnUpdate), shows or activates the frame and sets the caption.
  void InitialUpdateFrame(CDocument* pDoc, BOOL bMakeVisible);
  // Shows the frame as its neighbours are (maximized, minimized or normal) and activates it.
  void ActivateFrame();
  void OnUpdateFrameTitle(BOOL bAddToTitle) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL DestroyWindow() override;  // through the MDI client

  HMENU m_hMenuShared = nullptr;  // the document template's menu (owned by the template)

 protected:
  void PostNcDestroy() override;  // deletes the object, then updates the main frame's menu

 private:
  CMDIFrameWnd* mdiFrame_ = nullptr;
};
