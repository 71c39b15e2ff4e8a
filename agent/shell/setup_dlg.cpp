#include "agent/shell/setup_dlg.h"

#include "agent/calls/settings_store.h"
#include "agent/res/resource.h"

CSetupDlg::CSetupDlg(CWnd* pParent) : CDialog(IDD_SETUP, pParent) {
  m_strHost = GetHost();
  m_nPort = GetPort();
  m_strMyNumber = GetMyNumber();
  m_strFirstName = GetFirstName();
  m_strLastName = GetLastName();
}

void CSetupDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_HOST, m_strHost);
  DDX_Text(pDX, IDC_PORT, m_nPort);
  DDX_Text(pDX, IDC_MYNUMBER, m_strMyNumber);
  DDX_Text(pDX, IDC_FIRSTNAME, m_strFirstName);
  DDX_Text(pDX, IDC_LASTNAME, m_strLastName);
}

BOOL CSetupDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  return TRUE;
}

void CSetupDlg::OnOK() {
  // A port that is not an integer stops here: the user has seen the message once, the dialog
  // stays open and nothing half-entered is stored.
  if (!UpdateData(TRUE)) return;

  // Each setter tells the user itself when the key cannot be created.
  SetHost(m_strHost);
  SetPort(m_nPort);
  SetMyNumber(m_strMyNumber);
  SetFirstName(m_strFirstName);
  SetLastName(m_strLastName);

  CDialog::OnOK();
}
