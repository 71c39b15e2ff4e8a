#include "agent/framework/data_exchange.h"

#include <string>

#include "agent/framework/afx_ids.h"
#include "agent/framework/integer_text.h"
#include "agent/framework/message_box.h"
#include "agent/framework/win_app.h"
#include "agent/framework/wnd.h"

namespace {

bool IsEdit(HWND control) {
  char name[16] = {};
  ::GetClassNameA(control, name, sizeof name);
  return lstrcmpiA(name, "Edit") == 0;
}

std::string ControlText(HWND control) {
  const int length = ::GetWindowTextLengthA(control);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int got = ::GetWindowTextA(control, text.data(), length + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

}  // namespace

HWND CDataExchange::PrepareCtrl(int nIDC) {
  m_hWndLastControl = m_pDlgWnd && m_pDlgWnd->m_hWnd ? ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC) : nullptr;
  return m_hWndLastControl;
}

void CDataExchange::Fail() {
  m_bFailed = TRUE;
  if (!m_bSaveAndValidate || !m_hWndLastControl) return;
  ::SetFocus(m_hWndLastControl);
  if (IsEdit(m_hWndLastControl)) ::SendMessageA(m_hWndLastControl, EM_SETSEL, 0, -1);
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value) {
  if (pDX->m_bFailed) return;
  HWND control = pDX->PrepareEditCtrl(nIDC);
  if (!control) return;
  if (pDX->m_bSaveAndValidate) {
    value = ControlText(control);
  } else {
    ::SetWindowTextA(control, value.c_str());
  }
}

void DDX_Text(CDataExchange* pDX, int nIDC, int& value) {
  if (pDX->m_bFailed) return;
  HWND control = pDX->PrepareEditCtrl(nIDC);
  if (!control) return;
  if (!pDX->m_bSaveAndValidate) {
    ::SetWindowTextA(control, std::to_string(value).c_str());
    return;
  }
  const std::optional<int32_t> parsed = fw::ParseDialogInteger(ControlText(control));
  if (!parsed) {
    AfxMessageBox(fw::LoadStringResource(AFX_IDP_PARSE_INT, "Please enter an integer."));
    pDX->Fail();
    return;
  }
  value = *parsed;
}

void DDX_Text(CDataExchange* pDX, int nIDC, long& value) {
  int number = static_cast<int>(value);
  DDX_Text(pDX, nIDC, number);
  if (!pDX->m_bFailed) value = number;
}
