#include "agent/framework/mdi_child_wnd.h"

#include "agent/framework/doc_template.h"
#include "agent/framework/document.h"
#include "agent/framework/mdi_frame_wnd.h"
#include "agent/framework/view.h"
#include "agent/framework/win_app.h"
#include "agent/framework/window_icons.h"

namespace {


const char* ChildWindowClass() {
  return fw::RegisterWindowClass("FwMDIChild", CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS,
                                 reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
}

}  // namespace

CMDIChildWnd::CMDIChildWnd() = default;

BOOL CMDIChildWnd::PreCreateWindow(CREATESTRUCTA& cs) {
  if (!cs.lpszClass) cs.lpszClass = ChildWindowClass();
  return CFrameWnd::PreCreateWindow(cs);
}

BOOL CMDIChildWnd::LoadFrame(UINT nIDResource, DWORD dwDefaultStyle, CWnd* pParentWnd, CCreateContext* pContext) {
  m_nIDHelp = nIDResource;
  m_strTitle = fw::LoadStringResource(nIDResource);
  m_strTitle = m_strTitle.substr(0, m_strTitle.find('\n'));
  mdiFrame_ = dynamic_cast<CMDIFrameWnd*>(pParentWnd ? pParentWnd : AfxGetMainWnd());
  if (!mdiFrame_ || !mdiFrame_->m_hWndMDIClient) {
    PostNcDestroy();  // never created: the object goes as after a failed creation
    return FALSE;
  }
  if (pContext && pContext->m_pNewDocTemplate) {
    m_hMenuShared = pContext->m_pNewDocTemplate->m_hMenuShared;
    m_hAccelTable = pContext->m_pNewDocTemplate->m_hAccelTable;
  }

  CREATESTRUCTA cs{};
  cs.dwExStyle = WS_EX_MDICHILD;
  cs.lpszName = m_strTitle.c_str();
  // Shown by ActivateFrame once the view is ready.
  cs.style = static_cast<LONG>((dwDefaultStyle | WS_CHILD) & ~(WS_MAXIMIZE | WS_VISIBLE));
  cs.x = CW_USEDEFAULT;
  cs.y = CW_USEDEFAULT;
  cs.cx = CW_USEDEFAULT;
  cs.cy = CW_USEDEFAULT;
  cs.hwndParent = mdiFrame_->m_hWndMDIClient;
  cs.hInstance = AfxGetInstanceHandle();
  cs.lpCreateParams = pContext;
  if (!CreateFromStruct(cs)) return FALSE;
  fw::SetWindowIcons(m_hWnd, AfxGetResourceHandle(), nIDResource);
  return TRUE;
}

CMDIFrameWnd* CMDIChildWnd::GetMDIFrame() const { return mdiFrame_; }

void CMDIChildWnd::MDIActivate() {
  if (mdiFrame_) mdiFrame_->MDIActivate(this);
}

void CMDIChildWnd::MDIDestroy() {
  if (!m_hWnd) return;
  if (mdiFrame_ && mdiFrame_->m_hWndMDIClient && ::IsWindow(mdiFrame_->m_hWndMDIClient)) {
    ::SendMessageA(mdiFrame_->m_hWndMDIClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(m_hWnd), 0);
  } else {
    ::DestroyWindow(m_hWnd);
  }
}

BOOL CMDIChildWnd::DestroyWindow() {
  if (!m_hWnd) return FALSE;
  MDIDestroy();
  return TRUE;
}

void CMDIChildWnd::ActivateFrame(int nCmdShow) {
  if (nCmdShow == -1) {
    BOOL maximized = FALSE;
    if (mdiFrame_) mdiFrame_->MDIGetActive(&maximized);
    const DWORD style = GetStyle();
    if (maximized || (style & WS_MAXIMIZE)) {
      nCmdShow = SW_SHOWMAXIMIZED;
    } else if (style & WS_MINIMIZE) {
      nCmdShow = SW_SHOWMINIMIZED;
    } else {
      nCmdShow = SW_SHOW;
    }
  }
  ShowWindow(nCmdShow);
  if (mdiFrame_) {
    mdiFrame_->MDIActivate(this);
    ::SendMessageA(mdiFrame_->m_hWndMDIClient, WM_MDIREFRESHMENU, 0, 0);
    mdiFrame_->OnUpdateFrameMenu();
  }
}

void CMDIChildWnd::OnUpdateFrameTitle(BOOL bAddToTitle) {
  if (mdiFrame_ && mdiFrame_->m_hWnd) mdiFrame_->OnUpdateFrameTitle(bAddToTitle);
  if (!(GetStyle() & FWS_ADDTOTITLE) || !bAddToTitle) return;
  CDocument* doc = GetActiveDocument();
  std::string text = doc ? doc->GetTitle() : m_strTitle;
  if (m_nWindow > 0) text += ":" + std::to_string(m_nWindow);
  if (GetWindowText() != text) SetWindowText(text.c_str());
}

LRESULT CMDIChildWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_MDIACTIVATE: {
      const LRESULT result = CFrameWnd::WindowProc(message, wParam, lParam);
      HWND activated = reinterpret_cast<HWND>(lParam);
      HWND deactivated = reinterpret_cast<HWND>(wParam);
      if (mdiFrame_ && mdiFrame_->m_hWnd) {
        if (activated == m_hWnd) {
          mdiFrame_->MDISetMenu(m_hMenuShared);
        } else if (!activated && deactivated == m_hWnd) {
          mdiFrame_->MDISetMenu(nullptr);
        }
        mdiFrame_->OnUpdateFrameTitle(TRUE);
      }
      if (CView* view = GetActiveView()) view->OnActivateView(activated == m_hWnd, view, view);
      return result;
    }
    case WM_SETFOCUS:
      if (CView* view = GetActiveView()) {
        if (view->m_hWnd) ::SetFocus(view->m_hWnd);
        return 0;
      }
      break;
    case WM_SIZE: {
      const LRESULT result = Default();  // the MDI client keeps its maximize state
      if (wParam != SIZE_MINIMIZED) RecalcLayout();
      return result;
    }
    default:
      break;
  }
  return CFrameWnd::WindowProc(message, wParam, lParam);
}

LRESULT CMDIChildWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefMDIChildProcA(m_hWnd, message, wParam, lParam);
}

void CMDIChildWnd::OnClose() { CFrameWnd::OnClose(); }

void CMDIChildWnd::PostNcDestroy() {
  CMDIFrameWnd* frame = mdiFrame_;
  delete this;
  // Another child (or none) is active now: its menu and title.
  if (frame && frame->m_hWnd) {
    frame->OnUpdateFrameMenu();
    frame->OnUpdateFrameTitle(TRUE);
  }
}
