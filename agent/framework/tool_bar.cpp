#include "agent/framework/tool_bar.h"

#include "agent/framework/cmd_ui.h"
#include "agent/framework/frame_wnd.h"
#include "agent/framework/win_app.h"

namespace {

constexpr DWORD kBarStyles = 0x0040FFFF;  // CBRS_* bits, not window styles
constexpr int kSeparatorWidth = 8;

class ToolCmdUI : public CCmdUI {
 public:
  void Enable(BOOL bOn) override {
    m_bEnableChanged = TRUE;
    HWND bar = m_pOther->m_hWnd;
    const bool enabled = (::SendMessageA(bar, TB_GETSTATE, m_nID, 0) & TBSTATE_ENABLED) != 0;
    if (enabled != (bOn != FALSE)) ::SendMessageA(bar, TB_ENABLEBUTTON, m_nID, MAKELPARAM(bOn ? TRUE : FALSE, 0));
  }
  void SetCheck(int nCheck) override {
    HWND bar = m_pOther->m_hWnd;
    const bool checked = (::SendMessageA(bar, TB_GETSTATE, m_nID, 0) & TBSTATE_CHECKED) != 0;
    if (checked != (nCheck != 0)) ::SendMessageA(bar, TB_CHECKBUTTON, m_nID, MAKELPARAM(nCheck ? TRUE : FALSE, 0));
  }
  void SetRadio(BOOL bOn) override { SetCheck(bOn ? 1 : 0); }
  void SetText(const char*) override {}
};

}  // namespace

CToolBar::CToolBar() = default;

CToolBar::~CToolBar() {
  if (m_hWnd && ::IsWindow(m_hWnd)) ::SendMessageA(m_hWnd, TB_SETIMAGELIST, 0, 0);
  if (images_) ImageList_Destroy(images_);
}

BOOL CToolBar::Create(CWnd* pParentWnd, DWORD dwStyle, UINT nID) {
  return CreateEx(pParentWnd, TBSTYLE_FLAT, dwStyle, RECT{0, 0, 0, 0}, nID);
}

BOOL CToolBar::CreateEx(CWnd* pParentWnd, DWORD dwCtrlStyle, DWORD dwStyle, RECT, UINT nID) {
  if (!pParentWnd || !pParentWnd->m_hWnd || m_hWnd) return FALSE;
  m_dwStyle = dwStyle & kBarStyles;
  DWORD windowStyle = (dwStyle & ~kBarStyles) | dwCtrlStyle | CCS_NOPARENTALIGN | CCS_NODIVIDER | CCS_TOP;
  if (m_dwStyle & CBRS_TOOLTIPS) windowStyle |= TBSTYLE_TOOLTIPS;
  HWND bar = ::CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr, windowStyle | WS_CHILD, 0, 0, 0, 0, pParentWnd->m_hWnd,
                               reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), AfxGetInstanceHandle(), nullptr);
  if (!bar) return FALSE;
  ::SendMessageA(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SubclassWindow(bar);
  AttachToFrame(pParentWnd);
  return TRUE;
}

BOOL CToolBar::LoadToolBar(UINT nIDResource) {
  if (!m_hWnd) return FALSE;
  HINSTANCE instance = AfxGetResourceHandle();
  HRSRC resource = ::FindResourceA(instance, MAKEINTRESOURCEA(nIDResource), MAKEINTRESOURCEA(RT_TOOLBAR_ID));
  HGLOBAL loaded = resource ? ::LoadResource(instance, resource) : nullptr;
  const auto* words = loaded ? static_cast<const WORD*>(::LockResource(loaded)) : nullptr;
  const DWORD size = resource ? ::SizeofResource(instance, resource) : 0;
  if (!words || size < 4 * sizeof(WORD) || words[0] != 1) return FALSE;
  const int width = words[1];
  const int height = words[2];
  const size_t count = words[3];
  if (width <= 0 || height <= 0 || size < (4 + count) * sizeof(WORD)) return FALSE;

  HBITMAP bitmap = static_cast<HBITMAP>(
      ::LoadImageA(instance, MAKEINTRESOURCEA(nIDResource), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!bitmap) return FALSE;
  HIMAGELIST images = ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, static_cast<int>(count), 0);
  // The classic light grey background of the pictures is transparent.
  if (images) ImageList_AddMasked(images, bitmap, RGB(192, 192, 192));
  ::DeleteObject(bitmap);
  if (!images) return FALSE;

  std::vector<TBBUTTON> buttons;
  std::vector<UINT> ids;
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
    ids.push_back(id);
  }

  // Replace whatever was loaded before.
  while (::SendMessageA(m_hWnd, TB_DELETEBUTTON, 0, 0)) {
  }
  ::SendMessageA(m_hWnd, TB_SETBITMAPSIZE, 0, MAKELPARAM(width, height));
  ::SendMessageA(m_hWnd, TB_SETBUTTONSIZE, 0, MAKELPARAM(width + 7, height + 7));
  ::SendMessageA(m_hWnd, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
  if (images_) ImageList_Destroy(images_);
  images_ = images;
  if (!buttons.empty() &&
      !::SendMessageA(m_hWnd, TB_ADDBUTTONSA, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()))) {
    return FALSE;
  }
  ids_ = std::move(ids);
  ::SendMessageA(m_hWnd, TB_AUTOSIZE, 0, 0);
  return TRUE;
}

int CToolBar::GetButtonState(UINT nID) const {
  if (!m_hWnd) return -1;
  return static_cast<int>(::SendMessageA(m_hWnd, TB_GETSTATE, nID, 0));
}

int CToolBar::CalcHeight(int) {
  if (!m_hWnd) return 0;
  const DWORD size = static_cast<DWORD>(::SendMessageA(m_hWnd, TB_GETBUTTONSIZE, 0, 0));
  return HIWORD(size) + 4;
}

void CToolBar::OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler) {
  ToolCmdUI state;
  state.m_pOther = this;
  state.m_nIndexMax = static_cast<UINT>(ids_.size());
  for (state.m_nIndex = 0; state.m_nIndex < state.m_nIndexMax; ++state.m_nIndex) {
    state.m_nID = ids_[state.m_nIndex];
    if (state.m_nID == 0) continue;
    state.DoUpdate(pTarget, bDisableIfNoHndler);
  }
}
