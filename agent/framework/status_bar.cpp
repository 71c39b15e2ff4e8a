#include "agent/framework/status_bar.h"

#include <commctrl.h>

#include "agent/framework/cmd_ui.h"
#include "agent/framework/frame_wnd.h"
#include "agent/framework/win_app.h"

namespace {

constexpr DWORD kBarStyles = 0x0040FFFF;  // CBRS_* bits, not window styles
constexpr int kPanePadding = 12;

class StatusCmdUI : public CCmdUI {
 public:
  std::string text;  // the pane's indicator text
  void Enable(BOOL bOn) override {
    m_bEnableChanged = TRUE;
    auto* bar = static_cast<CStatusBar*>(m_pOther);
    const std::string wanted = bOn ? text : std::string();
    if (bar->GetPaneText(static_cast<int>(m_nIndex)) != wanted) {
      bar->SetPaneText(static_cast<int>(m_nIndex), wanted.c_str());
    }
  }
  void SetCheck(int) override {}
  void SetRadio(BOOL) override {}
  void SetText(const char* value) override {
    static_cast<CStatusBar*>(m_pOther)->SetPaneText(static_cast<int>(m_nIndex), value ? value : "");
  }
};

}  // namespace

CStatusBar::CStatusBar() = default;

CStatusBar::~CStatusBar() = default;

BOOL CStatusBar::Create(CWnd* pParentWnd, DWORD dwStyle, UINT nID) {
  if (!pParentWnd || !pParentWnd->m_hWnd || m_hWnd) return FALSE;
  m_dwStyle = dwStyle & kBarStyles;
  DWORD windowStyle = (dwStyle & ~kBarStyles) | WS_CHILD | CCS_NOPARENTALIGN | CCS_BOTTOM;
  if (::GetWindowLongPtrA(pParentWnd->m_hWnd, GWL_STYLE) & WS_THICKFRAME) windowStyle |= SBARS_SIZEGRIP;
  HWND bar = ::CreateWindowExA(0, STATUSCLASSNAMEA, nullptr, windowStyle, 0, 0, 0, 0, pParentWnd->m_hWnd,
                               reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), AfxGetInstanceHandle(), nullptr);
  if (!bar) return FALSE;
  SubclassWindow(bar);
  AttachToFrame(pParentWnd);
  return TRUE;
}

BOOL CStatusBar::SetIndicators(const UINT* lpIDArray, int nIDCount) {
  if (!m_hWnd || nIDCount <= 0 || nIDCount > 255 || !lpIDArray) return FALSE;
  ids_.assign(lpIDArray, lpIDArray + nIDCount);
  texts_.clear();
  widths_.clear();
  HDC dc = ::GetDC(m_hWnd);
  HFONT font = reinterpret_cast<HFONT>(::SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
  HGDIOBJ old = ::SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : ::GetStockObject(DEFAULT_GUI_FONT));
  bool ok = true;
  for (UINT id : ids_) {
    std::string text = id ? fw::LoadStringResource(id) : std::string();
    if (id && text.empty()) ok = false;  // an indicator needs its string
    SIZE extent{};
    ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    texts_.push_back(text);
    widths_.push_back(id ? extent.cx + kPanePadding : 0);
  }
  ::SelectObject(dc, old);
  ::ReleaseDC(m_hWnd, dc);
  UpdateParts();
  for (size_t i = 0; i < ids_.size(); ++i) SetPaneText(static_cast<int>(i), ids_[i] ? texts_[i].c_str() : "");
  return ok ? TRUE : FALSE;
}

void CStatusBar::UpdateParts() {
  if (!m_hWnd || ids_.empty()) return;
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  int right = client.right;
  // Leave room for the size grip.
  if (::GetWindowLongPtrA(m_hWnd, GWL_STYLE) & SBARS_SIZEGRIP) right -= ::GetSystemMetrics(SM_CXVSCROLL);
  std::vector<int> edges(ids_.size());
  int edge = right;
  for (size_t i = ids_.size(); i-- > 1;) {
    edges[i] = edge;
    edge -= widths_[i];
  }
  edges[0] = edge > 0 ? edge : 0;
  // The last pane runs to the end of the bar.
  edges.back() = -1;
  ::SendMessageA(m_hWnd, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void CStatusBar::OnSize(UINT, int, int) {
  Default();
  UpdateParts();
}

BOOL CStatusBar::SetPaneText(int index, const char* text) {
  if (!m_hWnd || index < 0 || static_cast<size_t>(index) >= ids_.size()) return FALSE;
  return static_cast<BOOL>(::SendMessageA(m_hWnd, SB_SETTEXTA, static_cast<WPARAM>(index),
                                          reinterpret_cast<LPARAM>(text ? text : "")));
}

std::string CStatusBar::GetPaneText(int index) const {
  if (!m_hWnd || index < 0 || static_cast<size_t>(index) >= ids_.size()) return {};
  const LRESULT info = ::SendMessageA(m_hWnd, SB_GETTEXTLENGTHA, static_cast<WPARAM>(index), 0);
  std::string text(static_cast<size_t>(LOWORD(info)) + 1, '\0');
  ::SendMessageA(m_hWnd, SB_GETTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(LOWORD(info));
  return text;
}

int CStatusBar::CalcHeight(int width) { return CControlBar::CalcHeight(width); }

void CStatusBar::OnUpdateCmdUI(CFrameWnd* pTarget, BOOL) {
  StatusCmdUI state;
  state.m_pOther = this;
  state.m_nIndexMax = static_cast<UINT>(ids_.size());
  for (state.m_nIndex = 0; state.m_nIndex < state.m_nIndexMax; ++state.m_nIndex) {
    state.m_nID = ids_[state.m_nIndex];
    if (state.m_nID == 0) continue;  // the message pane
    state.text = texts_[state.m_nIndex];
    // Indicators without a handler keep their text.
    state.DoUpdate(pTarget, FALSE);
  }
}
