#include "agent/shell/setup_dialog.h"

#include "agent/calls/http_wire.h"
#include "agent/calls/notifier.h"
#include "agent/calls/settings_store.h"
#include "agent/res/resource.h"

namespace {

// A host that no request can go to is refused here, where the user can still correct it, not
// at the next reminder. (The lengths are the settings store's: a longer text is refused too.)
void DDV_HostName(CDataExchange* pDX, const std::string& host) {
  if (pDX->failed || !pDX->m_bSaveAndValidate) return;
  const GatewayHost parsed = ParseGatewayHost(host);
  if (!parsed.problem) return;
  if (parsed.problem == kGatewayHostPortText || parsed.problem == kGatewayHostPathText) {
    AfxMessageBox(parsed.problem);
  } else if (parsed.https) {
    AfxMessageBox("Please enter the gateway's name or address after https://, without blanks.");
  } else {
    AfxMessageBox(host.empty() ? "Please enter the host name or address of the Talmery Gateway."
                               : "Please enter a host name without blanks.");
  }
  pDX->Fail();
}

}  // namespace

CSetupDlg::CSetupDlg() : CDialog(IDD_SETUP) {
  const GatewayPolicy policy = ReadGatewayPolicy();
  hostFixed_ = policy.host || policy.locked;
  portFixed_ = policy.port || policy.locked;
  policyProblem_ = policy.problem;
  m_strHost = GetHost();
  m_nPort = GetPort();
  m_strMyNumber = GetMyNumber();
  m_strFirstName = GetFirstName();
  m_strLastName = GetLastName();
}

BOOL CSetupDlg::OnInitDialog() {
  const BOOL result = CDialog::OnInitDialog();
  ::EnableWindow(GetDlgItem(IDC_HOST), !hostFixed_);
  ::EnableWindow(GetDlgItem(IDC_PORT), !portFixed_);
  if (!policyProblem_.empty()) Notifier::Show(policyProblem_);
  return result;
}

void CSetupDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  // What the administrator set is shown, never judged or taken back from the greyed field.
  if (!pDX->m_bSaveAndValidate || !hostFixed_) {
    DDX_Text(pDX, IDC_HOST, m_strHost);
    DDV_MaxChars(pDX, m_strHost, kMaxHostChars);
    DDV_HostName(pDX, m_strHost);
  }
  if (!pDX->m_bSaveAndValidate || !portFixed_) {
    DDX_Text(pDX, IDC_PORT, m_nPort);
    DDV_MinMaxInt(pDX, m_nPort, kMinPort, kMaxPort);
  }
  DDX_Text(pDX, IDC_MYNUMBER, m_strMyNumber);
  DDV_MaxChars(pDX, m_strMyNumber, kMaxTextChars);
  DDX_Text(pDX, IDC_FIRSTNAME, m_strFirstName);
  DDV_MaxChars(pDX, m_strFirstName, kMaxTextChars);
  DDX_Text(pDX, IDC_LASTNAME, m_strLastName);
  DDV_MaxChars(pDX, m_strLastName, kMaxTextChars);
}

void CSetupDlg::OnOK() {
  // A port that is not an integer from 1 to 65535, or a text too long to read back, stops here:
  // the user has seen the message once, the focus is on the field, the dialog stays open and
  // nothing half-entered is stored.
  if (!UpdateData(TRUE)) return;

  // A setter that cannot store its value says why: the user reads it once, and the dialog stays
  // open with what the user typed, to try again or cancel.
  Outcome stored = hostFixed_ ? Outcome::Done() : SetHost(m_strHost);
  if (stored && !portFixed_) stored = SetPort(m_nPort);
  if (stored) stored = SetMyNumber(m_strMyNumber);
  if (stored) stored = SetFirstName(m_strFirstName);
  if (stored) stored = SetLastName(m_strLastName);
  if (!stored) {
    Notifier::Show(stored.Message());
    return;
  }

  CDialog::OnOK();
}
