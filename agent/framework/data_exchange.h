#pragma once
// Dialog data exchange: CDataExchange carries the direction; the DDX_ functions move one
// control's value. A failed validation shows the framework's message, puts the focus on the
// control and stops the exchange (later DDX_ calls do nothing, UpdateData returns FALSE).
#include <windows.h>

#include <string>

class CWnd;

class CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

  BOOL m_bSaveAndValidate;  // TRUE: controls -> members
  CWnd* m_pDlgWnd;
  HWND m_hWndLastControl = nullptr;
  BOOL m_bFailed = FALSE;

  // The control with id nIDC (remembered for Fail); null if the dialog has none.
  HWND PrepareCtrl(int nIDC);
  HWND PrepareEditCtrl(int nIDC) { return PrepareCtrl(nIDC); }
  // Marks the exchange failed and moves the focus to the last prepared control (for edits, the
  // whole text selected).
  void Fail();
};

// Text of the control <-> std::string.
void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value);
// Text of the control <-> signed 32-bit integer. Saving accepts an optionally signed decimal
// integer with blanks or tabs around it; anything else (empty too) shows "Please enter an
// integer." (string AFX_IDP_PARSE_INT) and fails the exchange.
void DDX_Text(CDataExchange* pDX, int nIDC, int& value);
void DDX_Text(CDataExchange* pDX, int nIDC, long& value);

// Validation, after the DDX_ call for the same control. Loading, DDV_MaxChars limits the edit to
// nChars characters; saving, a longer text (typed around the limit, or set by a program) shows
// "Please enter no more than <n> characters." (AFX_IDP_PARSE_STRING_SIZE) and fails the exchange.
void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int nChars);
// Saving, a number outside minVal..maxVal shows "Please enter an integer between <min> and
// <max>." (AFX_IDP_PARSE_INT_RANGE) and fails the exchange.
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal);
