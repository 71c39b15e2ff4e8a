#pragma once
// CDialog: a modal dialog on a dialog template of the executable, with data exchange between
// controls and members (DoDataExchange / UpdateData, CDataExchange and the DDX_/DDV_ functions).
#include <windows.h>

#include <string>

#include "agent/framework/ui/wnd.h"

class CDataExchange;

class CDialog : public CWnd {
 public:
  // Owned by the application's main window.
  explicit CDialog(UINT nIDTemplate);
  ~CDialog() override;

  // Runs the dialog; the value given to EndDialog (IDOK, IDCANCEL), -1 when it cannot be created.
  virtual INT_PTR DoModal();
  // Default: UpdateData(FALSE) fills the controls from the members; TRUE: focus to the first
  // tab stop.
  virtual BOOL OnInitDialog();
  // Default: UpdateData(TRUE); on success EndDialog(IDOK), else the dialog stays open.
  virtual void OnOK();
  // Default: EndDialog(IDCANCEL).
  virtual void OnCancel();
  // Exchanges each bound control's value with its member (DDX_Text ...). Default: nothing.
  virtual void DoDataExchange(CDataExchange* pDX);
  // bSaveAndValidate TRUE: controls -> members; FALSE: members -> controls. FALSE when a control
  // held an invalid value (the user has seen the message, the focus is on that control).
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
  void EndDialog(int nResult);

  // IDOK -> OnOK, IDCANCEL -> OnCancel, other commands routed through the command map.
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  // The dialog procedure's view of a message: FALSE means "not handled" (default processing).
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  UINT m_nIDHelp;  // the dialog template

 private:
  friend INT_PTR CALLBACK FwDialogProc(HWND, UINT, WPARAM, LPARAM);
};

// Dialog data exchange: CDataExchange carries the direction; the DDX_ functions move one
// control's value. A failed validation shows the framework's message, puts the focus on the
// control and stops the exchange (later DDX_ calls do nothing, UpdateData returns FALSE).

class CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

  BOOL m_bSaveAndValidate;  // TRUE: controls -> members
  CWnd* m_pDlgWnd;
  HWND m_hWndLastControl = nullptr;
  BOOL failed = FALSE;

  // The control with id nIDC (remembered for Fail); null if the dialog has none.
  HWND PrepareCtrl(int nIDC);
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

// Validation, after the DDX_ call for the same control. Loading, DDV_MaxChars limits the edit to
// nChars characters; saving, a longer text (typed around the limit, or set by a program) shows
// "Please enter no more than <n> characters." (AFX_IDP_PARSE_STRING_SIZE) and fails the exchange.
void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int nChars);
// Saving, a number outside minVal..maxVal shows "Please enter an integer between <min> and
// <max>." (AFX_IDP_PARSE_INT_RANGE) and fails the exchange.
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal);
