#pragma once
// CDialog: a modal dialog on a dialog template of the executable, with data exchange between
// controls and members (DoDataExchange / UpdateData).
#include "agent/framework/data_exchange.h"
#include "agent/framework/wnd.h"

class CDialog : public CWnd {
 public:
  // pParentWnd null: the owner is the application's main window.
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
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

  UINT m_nIDHelp;
  CWnd* m_pParentWnd;

 private:
  friend INT_PTR CALLBACK FwDialogProc(HWND, UINT, WPARAM, LPARAM);
  void AttachDialog(HWND hwnd);
  void DetachDialog();
};
