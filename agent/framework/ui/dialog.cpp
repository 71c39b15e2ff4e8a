#include "agent/framework/ui/dialog.h"

#include <string>

#include "agent/framework/ui/afx_ids.h"
#include "agent/framework/ui/pure_text.h"
#include "agent/framework/ui/win_app.h"

INT_PTR CALLBACK FwDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* dialog = dynamic_cast<CDialog*>(CWnd::FromHandle(hwnd));
  if (!dialog) {
    if (message != WM_INITDIALOG) return FALSE;  // WM_SETFONT and the like come first
    dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->Attach(hwnd);
  }
  LRESULT result = 0;
  try {
    result = dialog->WindowProc(message, wParam, lParam);
  } catch (...) {
    fw::ReportUnhandledException("a dialog procedure");
    // A dialog whose initialisation failed is not shown: DoModal returns -1.
    if (message == WM_INITDIALOG) ::EndDialog(hwnd, -1);
    result = fw::AnswerFailedMessage(message);
  }
  if (message == WM_NCDESTROY) dialog->Detach();
  return static_cast<INT_PTR>(result);
}

CDialog::CDialog(UINT nIDTemplate) : m_nIDHelp(nIDTemplate) {}

CDialog::~CDialog() {
  if (m_hWnd) Detach();
}

INT_PTR CDialog::DoModal() {
  HWND owner = AfxGetMainWnd() ? AfxGetMainWnd()->m_hWnd : nullptr;
  // Dialogs belong to the top-level window of their owner.
  while (owner && (::GetWindowLongPtrA(owner, GWL_STYLE) & WS_CHILD)) owner = ::GetParent(owner);
  return ::DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_nIDHelp), owner, FwDialogProc,
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
  return exchange.failed ? FALSE : TRUE;
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

bool IsEdit(HWND control) {
  char name[16] = {};
  ::GetClassNameA(control, name, sizeof name);
  return lstrcmpiA(name, "Edit") == 0;
}

// Centres a dialog on its owner (or the screen), kept inside the owner's monitor work area.
void CenterOnOwner(HWND dialog) {
  RECT box{};
  ::GetWindowRect(dialog, &box);
  HWND owner = ::GetWindow(dialog, GW_OWNER);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoA(::MonitorFromWindow(owner ? owner : dialog, MONITOR_DEFAULTTONEAREST), &monitor);
  RECT around = monitor.rcWork;
  if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &around);
  const RECT& area = monitor.rcWork;
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

HWND CDataExchange::PrepareCtrl(int nIDC) {
  m_hWndLastControl = m_pDlgWnd && m_pDlgWnd->m_hWnd ? ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC) : nullptr;
  return m_hWndLastControl;
}

void CDataExchange::Fail() {
  failed = TRUE;
  if (!m_bSaveAndValidate || !m_hWndLastControl) return;
  ::SetFocus(m_hWndLastControl);
  if (IsEdit(m_hWndLastControl)) ::SendMessageA(m_hWndLastControl, EM_SETSEL, 0, -1);
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value) {
  HWND control = pDX->failed ? nullptr : pDX->PrepareCtrl(nIDC);
  if (!control) return;
  if (pDX->m_bSaveAndValidate) {
    value = fw::WindowText(control);
  } else {
    ::SetWindowTextA(control, value.c_str());
  }
}

void DDX_Text(CDataExchange* pDX, int nIDC, int& value) {
  HWND control = pDX->failed ? nullptr : pDX->PrepareCtrl(nIDC);
  if (!control) return;
  if (!pDX->m_bSaveAndValidate) {
    ::SetWindowTextA(control, std::to_string(value).c_str());
    return;
  }
  const std::optional<int32_t> parsed = fw::ParseDialogInteger(fw::WindowText(control));
  if (!parsed) {
    AfxMessageBox(fw::LoadStringResource(AFX_IDP_PARSE_INT, "Please enter an integer."));
    pDX->Fail();
    return;
  }
  value = *parsed;
}

void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int nChars) {
  if (pDX->failed || !pDX->m_hWndLastControl) return;
  if (!pDX->m_bSaveAndValidate) {
    ::SendMessageA(pDX->m_hWndLastControl, EM_LIMITTEXT, static_cast<WPARAM>(nChars), 0);
    return;
  }
  if (value.size() <= static_cast<size_t>(nChars)) return;
  AfxMessageBox(fw::Prompt(AFX_IDP_PARSE_STRING_SIZE, "Please enter no more than %1 characters.",
                       {std::to_string(nChars)}));
  pDX->Fail();
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal) {
  if (pDX->failed || !pDX->m_bSaveAndValidate || (value >= minVal && value <= maxVal)) return;
  AfxMessageBox(fw::Prompt(AFX_IDP_PARSE_INT_RANGE, "Please enter an integer between %1 and %2.",
                       {std::to_string(minVal), std::to_string(maxVal)}));
  pDX->Fail();
}
