#include "agent/framework/data_exchange.h"

#include <initializer_list>
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

// A framework prompt with its %1, %2 ... filled in.
std::string Prompt(UINT id, const char* fallback, std::initializer_list<std::string> inserts) {
  std::string text = fw::LoadStringResource(id, fallback);
  int number = 1;
  for (const std::string& insert : inserts) {
    const std::string mark = "%" + std::to_string(number++);
    const size_t at = text.find(mark);
    if (at != std::string::npos) text.replace(at, mark.size(), insert);
  }
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

void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int nChars) {
  if (pDX->m_bFailed || !pDX->m_hWndLastControl) return;
  if (!pDX->m_bSaveAndValidate) {
    ::SendMessageA(pDX->m_hWndLastControl, EM_LIMITTEXT, static_cast<WPARAM>(nChars), 0);
    return;
  }
  if (value.size() <= static_cast<size_t>(nChars)) return;
  AfxMessageBox(Prompt(AFX_IDP_PARSE_STRING_SIZE, "Please enter no more than %1 characters.",
                       {std::to_string(nChars)}));
  pDX->Fail();
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal) {
  if (pDX->m_bFailed || !pDX->m_bSaveAndValidate || (value >= minVal && value <= maxVal)) return;
  AfxMessageBox(Prompt(AFX_IDP_PARSE_INT_RANGE, "Please enter an integer between %1 and %2.",
                       {std::to_string(minVal), std::to_string(maxVal)}));
  pDX->Fail();
}
