#include "agent/framework/ui/mdi_wnd.h"

#include "agent/framework/ui/cmd_target.h"
#include "agent/framework/ui/document.h"
#include "agent/framework/ui/win_app.h"
#include "agent/framework/ui/wnd.h"

namespace {

// The popup whose items include the window commands: the MDI client lists the children there.
HMENU FindWindowPopup(HMENU menu) {
  if (!menu) return nullptr;
  const int count = ::GetMenuItemCount(menu);
  for (int i = count - 1; i >= 0; --i) {
    HMENU popup = ::GetSubMenu(menu, i);
    if (!popup) continue;
    const int items = ::GetMenuItemCount(popup);
    for (int j = 0; j < items; ++j) {
      const UINT id = ::GetMenuItemID(popup, j);
      if (id >= ID_WINDOW_NEW && id <= ID_WINDOW_SPLIT) return popup;
    }
  }
  return nullptr;
}

}  // namespace

const fw::CommandMap* CMDIFrameWnd::GetCommandMap() const {
  static const fw::CommandMap map(
      CFrameWnd::GetCommandMap(),
      {
          fw::OnCommand(ID_WINDOW_NEW, &CMDIFrameWnd::OnWindowNew),
          fw::OnUpdateCommandUI(ID_WINDOW_NEW, &CMDIFrameWnd::OnUpdateMDIWindowCmd),
          fw::OnCommandRange(ID_WINDOW_ARRANGE, ID_WINDOW_TILE_VERT, &CMDIFrameWnd::OnMDIWindowCmd),
          fw::OnUpdateCommandUIRange(ID_WINDOW_ARRANGE, ID_WINDOW_TILE_VERT, &CMDIFrameWnd::OnUpdateMDIWindowCmd),
      });
  return &map;
}

BOOL CMDIFrameWnd::OnCreateClient(LPCREATESTRUCTA, CCreateContext*) {
  CLIENTCREATESTRUCT ccs{};
  ccs.hWindowMenu = FindWindowPopup(m_hMenuDefault);
  ccs.idFirstChild = AFX_IDM_FIRST_MDICHILD;
  m_hWndMDIClient = ::CreateWindowExA(WS_EX_CLIENTEDGE, "MDICLIENT", nullptr,
                                      WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_VSCROLL |
                                          WS_HSCROLL | MDIS_ALLCHILDSTYLES,
                                      0, 0, 0, 0, m_hWnd, nullptr, AfxGetInstanceHandle(), &ccs);
  currentMenu_ = m_hMenuDefault;
  return m_hWndMDIClient != nullptr;
}

LRESULT CMDIFrameWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefFrameProcA(m_hWnd, m_hWndMDIClient, message, wParam, lParam);
}

void CMDIFrameWnd::RecalcLayout() {
  if (!m_hWnd) return;
  const RECT area = LayoutControlBars();
  if (m_hWndMDIClient) {
    ::MoveWindow(m_hWndMDIClient, area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
  }
}

CMDIChildWnd* CMDIFrameWnd::MDIGetActive(BOOL* pbMaximized) const {
  BOOL maximized = FALSE;
  HWND active = m_hWndMDIClient ? reinterpret_cast<HWND>(::SendMessageA(m_hWndMDIClient, WM_MDIGETACTIVE, 0,
                                                                          reinterpret_cast<LPARAM>(&maximized)))
                                : nullptr;
  if (pbMaximized) *pbMaximized = active ? maximized : FALSE;
  return dynamic_cast<CMDIChildWnd*>(CWnd::FromHandle(active));
}

void CMDIFrameWnd::MDISetMenu(HMENU menu) {
  if (!m_hWndMDIClient) return;
  HMENU target = menu ? menu : m_hMenuDefault;
  if (!target) return;
  ::SendMessageA(m_hWndMDIClient, WM_MDISETMENU, reinterpret_cast<WPARAM>(target),
                 reinterpret_cast<LPARAM>(FindWindowPopup(target)));
  ::DrawMenuBar(m_hWnd);
  currentMenu_ = target;
}

void CMDIFrameWnd::OnUpdateFrameMenu() {
  if (!m_hWnd || destroying_) return;
  CMDIChildWnd* active = MDIGetActive();
  HMENU menu = active && active->m_hMenuShared ? active->m_hMenuShared : m_hMenuDefault;
  if (menu != currentMenu_ || ::GetMenu(m_hWnd) != menu) MDISetMenu(menu);
}

CDocument* CMDIFrameWnd::GetActiveDocument() {
  CMDIChildWnd* child = MDIGetActive();
  return child ? child->GetActiveDocument() : nullptr;
}

BOOL CMDIFrameWnd::OnCmdMsg(UINT nID, int nCode, void* pExtra) {
  // The active document window first (its view, document and the child frame itself).
  if (CMDIChildWnd* child = MDIGetActive()) {
    if (child->OnCmdMsg(nID, nCode, pExtra)) return TRUE;
  }
  return CFrameWnd::OnCmdMsg(nID, nCode, pExtra);
}

BOOL CMDIFrameWnd::PreTranslateMessage(MSG* msg) {
  if (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) {
    // Ctrl+F4, Ctrl+F6 and the other system keys of the document windows.
    if (m_hWndMDIClient && ::TranslateMDISysAccel(m_hWndMDIClient, msg)) return TRUE;
    if (CMDIChildWnd* child = MDIGetActive()) {
      if (child->m_hAccelTable && ::TranslateAcceleratorA(m_hWnd, child->m_hAccelTable, msg)) return TRUE;
    }
  }
  return CFrameWnd::PreTranslateMessage(msg);
}

void CMDIFrameWnd::OnUpdateFrameTitle(BOOL bAddToTitle) {
  if (!(GetStyle() & FWS_ADDTOTITLE)) return;
  BOOL maximized = FALSE;
  CMDIChildWnd* child = MDIGetActive(&maximized);
  CDocument* doc = child ? child->GetActiveDocument() : nullptr;
  std::string text = m_strTitle;
  // A maximized child's title is shown by the system next to ours.
  if (bAddToTitle && !maximized && doc) text += " - " + doc->GetTitle();
  if (fw::WindowText(m_hWnd) != text) ::SetWindowTextA(m_hWnd, text.c_str());
}

void CMDIFrameWnd::OnIdleUpdateCmdUI() {
  CFrameWnd::OnIdleUpdateCmdUI();
  OnUpdateFrameMenu();
  if (!m_hWndMDIClient) return;
  for (HWND hwnd = ::GetWindow(m_hWndMDIClient, GW_CHILD); hwnd; hwnd = ::GetWindow(hwnd, GW_HWNDNEXT)) {
    if (auto* child = dynamic_cast<CMDIChildWnd*>(CWnd::FromHandle(hwnd))) child->OnUpdateFrameTitle(TRUE);
  }
}

void CMDIFrameWnd::OnWindowNew() {
  CMDIChildWnd* active = MDIGetActive();
  CDocument* doc = active ? active->GetActiveDocument() : nullptr;
  CDocTemplate* docTemplate = doc ? doc->m_pDocTemplate : nullptr;
  if (!docTemplate) return;
  CMDIChildWnd* frame = docTemplate->CreateNewFrame(doc);
  if (!frame) {
    AfxMessageBox(fw::LoadStringResource(AFX_IDP_COMMAND_FAILURE, "Command failed."));
    return;
  }
  frame->InitialUpdateFrame(doc, TRUE);
}

BOOL CMDIFrameWnd::OnMDIWindowCmd(UINT nID) {
  // The map binds ID_WINDOW_ARRANGE, _CASCADE, _TILE_HORZ and _TILE_VERT, in this order.
  static const struct {
    UINT message;
    WPARAM wParam;
  } kCommands[] = {{WM_MDIICONARRANGE, 0}, {WM_MDICASCADE, 0}, {WM_MDITILE, MDITILE_HORIZONTAL},
                   {WM_MDITILE, MDITILE_VERTICAL}};
  const auto& command = kCommands[nID - ID_WINDOW_ARRANGE];
  ::SendMessageA(m_hWndMDIClient, command.message, command.wParam, 0);
  return TRUE;
}

void CMDIFrameWnd::OnUpdateMDIWindowCmd(CCmdUI* ui) { ui->Enable(MDIGetActive() != nullptr); }

LRESULT CMDIFrameWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) destroying_ = true;
  return CFrameWnd::WindowProc(message, wParam, lParam);
}

BOOL CMDIChildWnd::PreCreateWindow(CREATESTRUCTA& cs) {
  if (!cs.lpszClass) cs.lpszClass = fw::RegisterWindowClass("FwMDIChild");
  return CFrameWnd::PreCreateWindow(cs);
}

BOOL CMDIChildWnd::LoadFrame(UINT nIDResource, CCreateContext* pContext) {
  mdiFrame_ = dynamic_cast<CMDIFrameWnd*>(AfxGetMainWnd());
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
  // Shown by ActivateFrame once the view is ready.
  cs.style = static_cast<LONG>(WS_CHILD | WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE);
  cs.hwndParent = mdiFrame_->m_hWndMDIClient;
  return CreateFrame(nIDResource, cs, pContext);
}

BOOL CMDIChildWnd::DestroyWindow() {
  if (!m_hWnd) return FALSE;
  if (mdiFrame_ && mdiFrame_->m_hWndMDIClient && ::IsWindow(mdiFrame_->m_hWndMDIClient)) {
    ::SendMessageA(mdiFrame_->m_hWndMDIClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(m_hWnd), 0);
  } else {
    ::DestroyWindow(m_hWnd);
  }
  return TRUE;
}

void CMDIChildWnd::InitialUpdateFrame(CDocument* pDoc, BOOL bMakeVisible) {
  CView* view = nullptr;
  if (!GetActiveView()) {
    view = dynamic_cast<CView*>(CWnd::FromHandle(::GetDlgItem(m_hWnd, AFX_IDW_PANE_FIRST)));
    activeView_ = view;
  }
  if (bMakeVisible) {
    if (CView* active = GetActiveView()) active->OnUpdate(nullptr, 0, nullptr);
    ActivateFrame();
    if (view) view->OnActivateView();
  }
  if (pDoc) pDoc->UpdateFrameCounts();
  OnUpdateFrameTitle(TRUE);
}

void CMDIChildWnd::ActivateFrame() {
  BOOL maximized = FALSE;
  if (mdiFrame_) mdiFrame_->MDIGetActive(&maximized);
  const DWORD style = GetStyle();
  if (maximized || (style & WS_MAXIMIZE)) {
    ShowWindow(SW_SHOWMAXIMIZED);
  } else {
    ShowWindow((style & WS_MINIMIZE) ? SW_SHOWMINIMIZED : SW_SHOW);
  }
  if (mdiFrame_) {
    ::SendMessageA(mdiFrame_->m_hWndMDIClient, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(m_hWnd), 0);
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
  if (fw::WindowText(m_hWnd) != text) ::SetWindowTextA(m_hWnd, text.c_str());
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
      CView* view = GetActiveView();
      if (view && activated == m_hWnd) view->OnActivateView();
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

void CMDIChildWnd::PostNcDestroy() {
  CMDIFrameWnd* frame = mdiFrame_;
  delete this;
  // Another child (or none) is active now: its menu and title.
  if (frame && frame->m_hWnd) {
    frame->OnUpdateFrameMenu();
    frame->OnUpdateFrameTitle(TRUE);
  }
}
