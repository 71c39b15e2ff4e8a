#pragma once
// CMDIChildWnd: a document window inside the MDI main frame. The document template creates it
// with LoadFrame; it holds one view, takes its menu and icon from the template's resource id and
// is titled after its document ("Cadel1", or "Cadel1:2" with several windows on it).
#include "agent/framework/frame_wnd.h"

class CMDIFrameWnd;

class CMDIChildWnd : public CFrameWnd {
 public:
  CMDIChildWnd();

  // Creates the child in the main frame's MDI client (pParentWnd: that frame; null: the main
  // window). Loads the template's menu as m_hMenuShared and its icon.
  BOOL LoadFrame(UINT nIDResource, DWORD dwDefaultStyle = WS_CHILD | WS_VISIBLE | WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE,
                 CWnd* pParentWnd = nullptr, CCreateContext* pContext = nullptr) override;
  BOOL PreCreateWindow(CREATESTRUCTA& cs) override;

  CMDIFrameWnd* GetMDIFrame() const;
  void MDIActivate();
  void MDIDestroy();  // closes the child through the MDI client
  void ActivateFrame(int nCmdShow = -1) override;
  void OnUpdateFrameTitle(BOOL bAddToTitle) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL DestroyWindow() override;
  void OnClose() override;

  HMENU m_hMenuShared = nullptr;  // the document template's menu (owned by the template)

 protected:
  bool RoutesToApplication() const override { return false; }
  void PostNcDestroy() override;  // deletes the object, then updates the main frame's menu

 private:
  CMDIFrameWnd* mdiFrame_ = nullptr;
};
