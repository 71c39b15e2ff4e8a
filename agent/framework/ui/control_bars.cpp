#include "agent/framework/ui/control_bars.h"

#include <commctrl.h>

#include <utility>

#include "agent/framework/ui/cmd_target.h"
#include "agent/framework/ui/frame_wnd.h"
#include "agent/framework/ui/win_app.h"

namespace {

constexpr DWORD kBarStyles = 0x0040FFFF;  // CBRS_* bits, not window styles
constexpr int kPanePadding = 12;
constexpr int kSeparatorWidth = 8;

class StatusCmdUI : public CCmdUI {
 public:
  explicit StatusCmdUI(const std::vector<std::string>& texts) : texts_(texts) {}
  void Enable(BOOL bOn) override {
    m_bEnableChanged = TRUE;
    auto* bar = static_cast<CStatusBar*>(m_pOther);
    const std::string wanted = bOn ? texts_[m_nIndex] : std::string();
    if (bar->GetPaneText(static_cast<int>(m_nIndex)) != wanted) {
      bar->SetPaneText(static_cast<int>(m_nIndex), wanted.c_str());
    }
  }

 private:
  const std::vector<std::string>& texts_;  // the indicators' texts
};

class ToolCmdUI : public CCmdUI {
 public:
  void Enable(BOOL bOn) override {
    m_bEnableChanged = TRUE;
    HWND bar = m_pOther->m_hWnd;
    const bool enabled = (::SendMessageA(bar, TB_GETSTATE, m_nID, 0) & TBSTATE_ENABLED) != 0;
    if (enabled != (bOn != FALSE)) ::SendMessageA(bar, TB_ENABLEBUTTON, m_nID, MAKELPARAM(bOn ? TRUE : FALSE, 0));
  }
};

}  // namespace

CControlBar::~CControlBar() {
  if (frame_) frame_->RemoveControlBar(this);
}

BOOL CControlBar::CreateBar(CWnd* parent, const char* className, DWORD dwStyle, DWORD windowStyle, UINT nID) {
  if (!parent || !parent->m_hWnd || m_hWnd) return FALSE;
  m_dwStyle = dwStyle & kBarStyles;
  HWND bar = ::CreateWindowExA(0, className, nullptr, (dwStyle & ~kBarStyles) | windowStyle | WS_CHILD, 0, 0, 0, 0,
                               parent->m_hWnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)),
                               AfxGetInstanceHandle(), nullptr);
  if (!bar) return FALSE;
  SubclassWindow(bar);
  frame_ = dynamic_cast<CFrameWnd*>(parent);
  if (frame_) frame_->AddControlBar(this);
  return TRUE;
}

void CControlBar::UpdateItems(CFrameWnd* pTarget, CCmdUI& state, BOOL bDisableIfNoHndler) {
  state.m_pOther = this;
  state.m_nIndexMax = static_cast<UINT>(ids_.size());
  for (state.m_nIndex = 0; state.m_nIndex < state.m_nIndexMax; ++state.m_nIndex) {
    state.m_nID = ids_[state.m_nIndex];
    if (state.m_nID == 0) continue;  // a separator, or the status bar's message pane
    state.DoUpdate(pTarget, bDisableIfNoHndler);
  }
}

int CControlBar::CalcHeight(int) {
  RECT rect{};
  if (m_hWnd) ::GetWindowRect(m_hWnd, &rect);
  return rect.bottom - rect.top;
}

BOOL CStatusBar::Create(CWnd* pParentWnd, DWORD dwStyle, UINT nID) {
  // A frame that can be resized gets the grip in the corner.
  const bool grip = pParentWnd && (::GetWindowLongPtrA(pParentWnd->m_hWnd, GWL_STYLE) & WS_THICKFRAME);
  return CreateBar(pParentWnd, STATUSCLASSNAMEA, dwStyle, CCS_NOPARENTALIGN | CCS_BOTTOM | (grip ? SBARS_SIZEGRIP : 0),
                   nID);
}

BOOL CStatusBar::SetIndicators(const UINT* lpIDArray, int nIDCount) {
  if (!m_hWnd || nIDCount <= 0 || nIDCount > 255 || !lpIDArray) return FALSE;
  ids_.assign(lpIDArray, lpIDArray + nIDCount);
  texts_.clear();
  widths_.clear();
  const win::WindowDC dc(m_hWnd);
  HFONT font = reinterpret_cast<HFONT>(::SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
  HGDIOBJ old = ::SelectObject(dc.get(), font ? static_cast<HGDIOBJ>(font) : ::GetStockObject(DEFAULT_GUI_FONT));
  bool ok = true;
  for (UINT id : ids_) {
    std::string text = id ? fw::LoadStringResource(id) : std::string();
    if (id && text.empty()) ok = false;  // an indicator needs its string
    SIZE extent{};
    ::GetTextExtentPoint32A(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    texts_.push_back(text);
    widths_.push_back(id ? extent.cx + kPanePadding : 0);
  }
  ::SelectObject(dc.get(), old);
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

void CStatusBar::OnUpdateCmdUI(CFrameWnd* pTarget, BOOL) {
  StatusCmdUI state(texts_);
  UpdateItems(pTarget, state, FALSE);  // indicators without a handler keep their text
}

CToolBar::~CToolBar() {
  if (m_hWnd && ::IsWindow(m_hWnd)) ::SendMessageA(m_hWnd, TB_SETIMAGELIST, 0, 0);
}

BOOL CToolBar::CreateEx(CWnd* pParentWnd, DWORD dwCtrlStyle, DWORD dwStyle, UINT nID) {
  const DWORD tooltips = (dwStyle & CBRS_TOOLTIPS) ? TBSTYLE_TOOLTIPS : 0;
  if (!CreateBar(pParentWnd, TOOLBARCLASSNAMEA, dwStyle,
                 dwCtrlStyle | CCS_NOPARENTALIGN | CCS_NODIVIDER | CCS_TOP | tooltips, nID)) {
    return FALSE;
  }
  ::SendMessageA(m_hWnd, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  return TRUE;
}

BOOL CToolBar::LoadToolBar(UINT nIDResource) {
  if (!m_hWnd) return FALSE;
  HINSTANCE instance = AfxGetInstanceHandle();
  HRSRC resource = ::FindResourceA(instance, MAKEINTRESOURCEA(nIDResource), MAKEINTRESOURCEA(RT_TOOLBAR_ID));
  HGLOBAL loaded = resource ? ::LoadResource(instance, resource) : nullptr;
  const auto* words = loaded ? static_cast<const WORD*>(::LockResource(loaded)) : nullptr;
  const DWORD size = resource ? ::SizeofResource(instance, resource) : 0;
  if (!words || size < 4 * sizeof(WORD) || words[0] != 1) return FALSE;
  const int width = words[1];
  const int height = words[2];
  const size_t count = words[3];
  if (width <= 0 || height <= 0 || size < (4 + count) * sizeof(WORD)) return FALSE;

  const win::GdiObject bitmap(
      ::LoadImageA(instance, MAKEINTRESOURCEA(nIDResource), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!bitmap) return FALSE;
  fw::ImageList images(ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, static_cast<int>(count), 0));
  if (!images) return FALSE;
  // The classic light grey background of the pictures is transparent.
  ImageList_AddMasked(images.get(), static_cast<HBITMAP>(bitmap.get()), RGB(192, 192, 192));

  std::vector<TBBUTTON> buttons;
  int image = 0;
  for (size_t i = 0; i < count; ++i) {
    const UINT id = words[4 + i];
    TBBUTTON button{};
    if (id == 0) {
      button.iBitmap = kSeparatorWidth;
      button.fsStyle = TBSTYLE_SEP;
    } else {
      button.iBitmap = image++;
      button.idCommand = static_cast<int>(id);
      button.fsState = TBSTATE_ENABLED;
      button.fsStyle = TBSTYLE_BUTTON;
    }
    button.iString = -1;
    buttons.push_back(button);
  }

  ::SendMessageA(m_hWnd, TB_SETBITMAPSIZE, 0, MAKELPARAM(width, height));
  ::SendMessageA(m_hWnd, TB_SETBUTTONSIZE, 0, MAKELPARAM(width + 7, height + 7));
  ::SendMessageA(m_hWnd, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images.get()));
  images_ = std::move(images);
  if (!buttons.empty() &&
      !::SendMessageA(m_hWnd, TB_ADDBUTTONSA, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()))) {
    return FALSE;
  }
  ids_.assign(words + 4, words + 4 + count);
  ::SendMessageA(m_hWnd, TB_AUTOSIZE, 0, 0);
  return TRUE;
}

int CToolBar::CalcHeight(int) {
  if (!m_hWnd) return 0;
  const DWORD size = static_cast<DWORD>(::SendMessageA(m_hWnd, TB_GETBUTTONSIZE, 0, 0));
  return HIWORD(size) + 4;
}

void CToolBar::OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler) {
  ToolCmdUI state;
  UpdateItems(pTarget, state, bDisableIfNoHndler);
}
