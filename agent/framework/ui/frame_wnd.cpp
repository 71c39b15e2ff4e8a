#include "agent/framework/ui/frame_wnd.h"

#include <commctrl.h>

#include <algorithm>

#include "agent/framework/ole/ole_text.h"
#include "agent/framework/ui/cmd_target.h"
#include "agent/framework/ui/control_bars.h"
#include "agent/framework/ui/document.h"
#include "agent/framework/ui/template_server.h"
#include "agent/framework/ui/win_app.h"
#include "agent/framework/ui/wnd.h"

namespace {

constexpr UINT kFirstSystemCommandString = 0xEF00;  // prompts of SC_SIZE ... (AFX_IDS_SCFIRST)
constexpr UINT kMdiChildPrompt = 0xEF1F;            // prompt of the Window menu's child list

std::string FirstField(const std::string& text) { return text.substr(0, text.find('\n')); }

// The tooltip of the control a tooltip notification asks about: its string after the '\n'.
std::string TooltipOf(const NMHDR& header, UINT flags) {
  const UINT id = (flags & TTF_IDISHWND) ? 0u : static_cast<UINT>(header.idFrom);
  const std::string text = fw::LoadStringResource(id);
  const size_t newline = text.find('\n');
  return newline == std::string::npos ? std::string() : text.substr(newline + 1);
}

}  // namespace

const fw::CommandMap* CFrameWnd::GetCommandMap() const {
  static const fw::CommandMap map(
      CWnd::GetCommandMap(),
      {
          fw::OnCommandRange(ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, &CFrameWnd::OnBarCheck),
          fw::OnUpdateCommandUIRange(ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, &CFrameWnd::OnUpdateControlBarMenu),
          fw::OnUpdateCommandUIRange(ID_INDICATOR_CAPS, ID_INDICATOR_SCRL, &CFrameWnd::OnUpdateKeyIndicator),
      });
  return &map;
}

BOOL CFrameWnd::LoadFrame(UINT nIDResource, DWORD dwDefaultStyle) {
  HINSTANCE instance = AfxGetInstanceHandle();
  m_hMenuDefault = ::LoadMenuA(instance, MAKEINTRESOURCEA(nIDResource));
  m_hAccelTable = ::LoadAcceleratorsA(instance, MAKEINTRESOURCEA(nIDResource));
  CREATESTRUCTA cs{};
  cs.style = static_cast<LONG>(dwDefaultStyle);
  cs.hMenu = m_hMenuDefault;
  HMENU menu = m_hMenuDefault;
  if (CreateFrame(nIDResource, cs, nullptr)) return TRUE;
  // The frame has deleted itself (PostNcDestroy) when its window existed.
  if (::IsMenu(menu)) ::DestroyMenu(menu);
  return FALSE;
}

BOOL CFrameWnd::CreateFrame(UINT nIDResource, CREATESTRUCTA& cs, CCreateContext* pContext) {
  m_strTitle = FirstField(fw::LoadStringResource(nIDResource));
  cs.lpszName = m_strTitle.c_str();
  cs.x = CW_USEDEFAULT;
  cs.y = CW_USEDEFAULT;
  cs.cx = CW_USEDEFAULT;
  cs.cy = CW_USEDEFAULT;
  cs.hInstance = AfxGetInstanceHandle();
  cs.lpCreateParams = pContext;
  if (!CreateFromStruct(cs)) return FALSE;
  // The large and the small image of the icon, each at its system size (the small one is the
  // 16x16 image, not the 32x32 one scaled down); LR_SHARED: the system owns them.
  const auto setIcon = [&](WPARAM which, int cx, int cy) {
    if (HANDLE icon = ::LoadImageA(cs.hInstance, MAKEINTRESOURCEA(nIDResource), IMAGE_ICON, ::GetSystemMetrics(cx),
                                   ::GetSystemMetrics(cy), LR_SHARED)) {
      SendMessage(WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
    }
  };
  setIcon(ICON_BIG, SM_CXICON, SM_CYICON);
  setIcon(ICON_SMALL, SM_CXSMICON, SM_CYSMICON);
  return TRUE;
}

int CFrameWnd::OnCreate(LPCREATESTRUCTA cs) {
  auto* context = static_cast<CCreateContext*>(cs->lpCreateParams);
  if ((cs->dwExStyle & WS_EX_MDICHILD) && cs->lpCreateParams) {
    context = reinterpret_cast<CCreateContext*>(static_cast<MDICREATESTRUCTA*>(cs->lpCreateParams)->lParam);
  }
  if (CWnd::OnCreate(cs) == -1) return -1;
  if (!OnCreateClient(cs, context)) return -1;
  RecalcLayout();
  return 0;
}

BOOL CFrameWnd::OnCreateClient(LPCREATESTRUCTA, CCreateContext* pContext) {
  if (!pContext || !pContext->m_pNewViewClass) return TRUE;
  CView* view = pContext->m_pNewViewClass();
  // The view adds itself to pContext->m_pCurrentDoc in its OnCreate; a failed creation deletes it.
  return view && view->Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, RECT{0, 0, 0, 0}, this, AFX_IDW_PANE_FIRST,
                              pContext);
}

CDocument* CFrameWnd::GetActiveDocument() {
  CView* view = GetActiveView();
  return view ? view->GetDocument() : nullptr;
}

BOOL CFrameWnd::OnCmdMsg(UINT nID, int nCode, void* pExtra) {
  if (CView* view = GetActiveView()) {
    if (view->OnCmdMsg(nID, nCode, pExtra)) return TRUE;
  }
  if (CWnd::OnCmdMsg(nID, nCode, pExtra)) return TRUE;
  // An MDI child leaves the rest to the main frame, which routes on to the application.
  if (GetStyle() & WS_CHILD) return FALSE;
  CWinApp* app = AfxGetApp();
  return app && app->OnCmdMsg(nID, nCode, pExtra);
}

BOOL CFrameWnd::PreTranslateMessage(MSG* msg) {
  if (msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST && m_hAccelTable) {
    return ::TranslateAcceleratorA(m_hWnd, m_hAccelTable, msg);
  }
  return FALSE;
}

LRESULT CFrameWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITMENUPOPUP: {
      // The popup's items enabled or disabled through this frame's routing; the system menu stays.
      HMENU popup = reinterpret_cast<HMENU>(wParam);
      if (HIWORD(lParam) || !popup) return 0;
      CCmdUI state;
      state.m_pMenu = popup;
      state.m_nIndexMax = static_cast<UINT>(::GetMenuItemCount(popup));
      for (state.m_nIndex = 0; state.m_nIndex < state.m_nIndexMax; ++state.m_nIndex) {
        state.m_nID = ::GetMenuItemID(popup, static_cast<int>(state.m_nIndex));
        // Separators, and popups inside the popup (our menus have none), are left as they are.
        if (state.m_nID == 0 || state.m_nID == static_cast<UINT>(-1)) continue;
        // System commands and the window list are never disabled automatically.
        state.DoUpdate(this, state.m_nID < 0xF000);
        // An update handler may have inserted or removed items (the recent-file list).
        const UINT count = static_cast<UINT>(::GetMenuItemCount(popup));
        if (count < state.m_nIndexMax) {
          state.m_nIndex -= (state.m_nIndexMax - count);
          while (state.m_nIndex < count && ::GetMenuItemID(popup, static_cast<int>(state.m_nIndex)) == state.m_nID) {
            ++state.m_nIndex;
          }
        }
        state.m_nIndexMax = count;
      }
      return 0;
    }
    case WM_MENUSELECT: {
      const UINT itemId = LOWORD(wParam);
      const UINT flags = HIWORD(wParam);
      if (flags == 0xFFFF && !lParam) {  // the menu closed
        SetIdleMessage();
      } else if (flags & (MF_POPUP | MF_SEPARATOR)) {
        SetMessageText("");
      } else if (flags & MF_SYSMENU) {
        SetMessageText(itemId >= 0xF000 ? kFirstSystemCommandString + ((itemId - 0xF000) >> 4) : 0u);
      } else {
        SetMessageText(itemId >= AFX_IDM_FIRST_MDICHILD ? kMdiChildPrompt : itemId);
      }
      return 0;
    }
    case WM_ENTERMENULOOP:
      inMenu_ = true;
      break;
    case WM_EXITMENULOOP:
      inMenu_ = false;
      SetIdleMessage();
      break;
    case WM_DESTROY:
      // The default menu goes with the window; menus of templates must survive it.
      if (m_hMenuDefault && ::GetMenu(m_hWnd) != m_hMenuDefault && !(GetStyle() & WS_CHILD)) {
        ::SetMenu(m_hWnd, m_hMenuDefault);
      }
      break;
    default:
      break;
  }
  return CWnd::WindowProc(message, wParam, lParam);
}

void CFrameWnd::SetMessageText(const char* text) {
  auto* bar = dynamic_cast<CStatusBar*>(GetControlBar(AFX_IDW_STATUS_BAR));
  if (bar && bar->m_hWnd && bar->GetPaneText(0) != (text ? text : "")) bar->SetPaneText(0, text ? text : "");
}

void CFrameWnd::SetMessageText(UINT nID) {
  SetMessageText(nID ? FirstField(fw::LoadStringResource(nID)).c_str() : "");
}

void CFrameWnd::SetIdleMessage() { SetMessageText(fw::LoadStringResource(AFX_IDS_IDLEMESSAGE, "Ready").c_str()); }

BOOL CFrameWnd::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
  auto* header = reinterpret_cast<NMHDR*>(lParam);
  switch (header->code) {
    case TTN_GETDISPINFOA: {
      auto* info = reinterpret_cast<NMTTDISPINFOA*>(lParam);
      tooltipText_ = TooltipOf(*header, info->uFlags);
      info->lpszText = const_cast<char*>(tooltipText_.c_str());
      info->hinst = nullptr;
      *result = 0;
      return TRUE;
    }
    case TTN_GETDISPINFOW: {
      auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
      tooltipTextW_ = fw::AnsiToWide(TooltipOf(*header, info->uFlags).c_str());
      info->lpszText = tooltipTextW_.data();
      info->hinst = nullptr;
      *result = 0;
      return TRUE;
    }
    case TBN_HOTITEMCHANGE: {
      auto* hot = reinterpret_cast<NMTBHOTITEM*>(lParam);
      auto* bar = dynamic_cast<CControlBar*>(CWnd::FromHandle(header->hwndFrom));
      if ((hot->dwFlags & HICF_LEAVING) || hot->idNew == 0) {
        lastFlybyId_ = 0;
        SetIdleMessage();
      } else if (!bar || (bar->m_dwStyle & CBRS_FLYBY)) {
        lastFlybyId_ = static_cast<UINT>(hot->idNew);
        SetMessageText(lastFlybyId_);
      }
      *result = 0;
      return TRUE;
    }
    default:
      break;
  }
  return CWnd::OnNotify(wParam, lParam, result);
}

CControlBar* CFrameWnd::GetControlBar(UINT nID) const {
  for (CControlBar* bar : controlBars_) {
    if (bar->m_hWnd && static_cast<UINT>(::GetDlgCtrlID(bar->m_hWnd)) == nID) return bar;
  }
  return nullptr;
}

void CFrameWnd::AddControlBar(CControlBar* bar) {
  if (std::find(controlBars_.begin(), controlBars_.end(), bar) == controlBars_.end()) controlBars_.push_back(bar);
}

void CFrameWnd::RemoveControlBar(CControlBar* bar) {
  controlBars_.erase(std::remove(controlBars_.begin(), controlBars_.end(), bar), controlBars_.end());
}

void CFrameWnd::OnUpdateControlBarMenu(CCmdUI* ui) {
  CControlBar* bar = GetControlBar(ui->m_nID);
  if (!bar) {
    ui->ContinueRouting();
    return;
  }
  ui->Enable(TRUE);
  ui->SetCheck((::GetWindowLongPtrA(bar->m_hWnd, GWL_STYLE) & WS_VISIBLE) != 0);
}

BOOL CFrameWnd::OnBarCheck(UINT nID) {
  CControlBar* bar = GetControlBar(nID);
  if (!bar) return FALSE;
  ::ShowWindow(bar->m_hWnd, (::GetWindowLongPtrA(bar->m_hWnd, GWL_STYLE) & WS_VISIBLE) ? SW_HIDE : SW_SHOWNOACTIVATE);
  RecalcLayout();
  return TRUE;
}

void CFrameWnd::OnUpdateKeyIndicator(CCmdUI* ui) {
  // The map binds the indicators CAPS, NUM and SCRL, in this order.
  static const int keys[] = {VK_CAPITAL, VK_NUMLOCK, VK_SCROLL};
  ui->Enable((::GetKeyState(keys[ui->m_nID - ID_INDICATOR_CAPS]) & 1) != 0);
}

RECT CFrameWnd::LayoutControlBars() {
  RECT area{};
  ::GetClientRect(m_hWnd, &area);
  const int width = area.right - area.left;
  for (CControlBar* bar : controlBars_) {
    if (!bar->m_hWnd || !(::GetWindowLongPtrA(bar->m_hWnd, GWL_STYLE) & WS_VISIBLE)) continue;
    const int height = bar->CalcHeight(width);
    if (bar->IsTop()) {
      ::MoveWindow(bar->m_hWnd, area.left, area.top, width, height, TRUE);
      area.top += height;
    } else {
      ::MoveWindow(bar->m_hWnd, area.left, area.bottom - height, width, height, TRUE);
      area.bottom -= height;
    }
  }
  if (area.bottom < area.top) area.bottom = area.top;
  return area;
}

void CFrameWnd::RecalcLayout() {
  if (!m_hWnd) return;
  const RECT area = LayoutControlBars();
  if (HWND pane = ::GetDlgItem(m_hWnd, AFX_IDW_PANE_FIRST)) {
    ::MoveWindow(pane, area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
  }
}

void CFrameWnd::OnSize(UINT type, int, int) {
  if (type != SIZE_MINIMIZED) RecalcLayout();
}

void CFrameWnd::OnIdleUpdateCmdUI() {
  if (!m_hWnd) return;
  for (CControlBar* bar : controlBars_) {
    if (bar->m_hWnd && (::GetWindowLongPtrA(bar->m_hWnd, GWL_STYLE) & WS_VISIBLE)) bar->OnUpdateCmdUI(this, TRUE);
  }
  if (!inMenu_ && lastFlybyId_ == 0) SetIdleMessage();
  OnUpdateFrameTitle(TRUE);
}

void CFrameWnd::OnClose() {
  CWinApp* app = AfxGetApp();
  if (app && app->m_pMainWnd == this) {
    if (app->GetDocTemplate() && !app->GetDocTemplate()->SaveAllModified()) return;
    app->CloseAllDocuments();
    if (AfxOleGetLockCount() > 0) {
      // Automation clients still use documents: hide and end when they let go.
      ShowWindow(SW_HIDE);
      AfxOleSetUserCtrl(FALSE);
      return;
    }
    DestroyWindow();
    return;
  }
  CDocument* doc = GetActiveDocument();
  bool otherFrame = false;  // another window on the document stays open
  for (CView* view : doc ? doc->GetViews() : std::vector<CView*>()) {
    if (view->GetParentFrame() != this) otherFrame = true;
  }
  if (doc && !otherFrame) {
    if (!doc->SaveModified()) return;
    if (doc->m_bAutoDelete) {
      doc->OnCloseDocument();  // destroys this frame too
      return;
    }
  }
  DestroyWindow();
}

void CFrameWnd::PostNcDestroy() { delete this; }
