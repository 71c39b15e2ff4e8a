#include "agent/framework/dialog.h"

#include "agent/framework/win_app.h"

INT_PTR CALLBACK FwDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* dialog = dynamic_cast<CDialog*>(CWnd::FromHandle(hwnd));
  if (!dialog) {
    if (message != WM_INITDIALOG) return FALSE;  // WM_SETFONT and the like come first
    dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->AttachDialog(hwnd);
  }
  const LRESULT result = dialog->WindowProc(message, wParam, lParam);
  if (message == WM_NCDESTROY) dialog->DetachDialog();
  return static_cast<INT_PTR>(result);
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
  if (m_hWnd) DetachDialog();
}

void CDialog::AttachDialog(HWND hwnd) { Attach(hwnd); }
void CDialog::DetachDialog() { Detach(); }

INT_PTR CDialog::DoModal() {
  HWND owner = nullptr;
  if (m_pParentWnd && m_pParentWnd->m_hWnd) {
    owner = m_pParentWnd->m_hWnd;
  } else if (CWnd* main = AfxGetMainWnd()) {
    owner = main->m_hWnd;
  }
  // Dialogs belong to the top-level window of their owner.
  while (owner && (::GetWindowLongPtrA(owner, GWL_STYLE) & WS_CHILD)) owner = ::GetParent(owner);
  return ::DialogBoxParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_nIDHelp), owner, FwDialogProc,
                           reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
  if (!m_hWnd) return FALSE;
  CDataExchange exchange(this, bSaveAndValidate);
  DoDataExchange(&exchange);
  return exchange.m_bFailed ? FALSE : TRUE;
}

void CDialog::EndDialog(int nResult) {
  if (m_hWnd) ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
  const UINT id = LOWORD(wParam);
  const UINT code = HIWORD(wParam);
  if (code == BN_CLICKED || (lParam == 0 && code == 1)) {
    if (id == IDOK) {
      OnOK();
      return TRUE;
    }
    if (id == IDCANCEL) {
      OnCancel();
      return TRUE;
    }
  }
  return CWnd::OnCommand(wParam, lParam);
}

namespace {

// Centres a dialog on its owner (or the screen), kept inside the owner's monitor work area.
void CenterOnOwner(HWND dialog) {
  RECT box{};
  ::GetWindowRect(dialog, &box);
  HWND owner = ::GetWindow(dialog, GW_OWNER);
  RECT area{};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoA(::MonitorFromWindow(owner ? owner : dialog, MONITOR_DEFAULTTONEAREST), &monitor);
  RECT around = monitor.rcWork;
  if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &around);
  area = monitor.rcWork;
  const LONG width = box.right - box.left;
  const LONG height = box.bottom - box.top;
  LONG x = around.left + ((around.right - around.left) - width) / 2;
  LONG y = around.top + ((around.bottom - around.top) - height) / 2;
  if (x + width > area.right) x = area.right - width;
  if (y + height > area.bottom) y = area.bottom - height;
  if (x < area.left) x = area.left;
  if (y < area.top) y = area.top;
  ::SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      RECT before{};
      ::GetWindowRect(m_hWnd, &before);
      const BOOL result = OnInitDialog();
      RECT after{};
      ::GetWindowRect(m_hWnd, &after);
      // Like the classic framework: centred, unless initialisation placed the dialog itself.
      if (::EqualRect(&before, &after)) CenterOnOwner(m_hWnd);
      return result;
    }
    case WM_COMMAND:
      return OnCommand(wParam, lParam);
    default:
      return FALSE;  // the system's dialog handling
  }
}

LRESULT CDialog::DefWindowProc(UINT, WPARAM, LPARAM) { return FALSE; }
