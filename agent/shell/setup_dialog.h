#pragma once
#include <string>

#include "agent/framework/afx.h"

// The TCP ports a gateway can listen on.
constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;

// Edits the gateway's host and port and the user's number and names (dialog 130). Reads the
// settings once, when constructed; OK stores all five, except the host and port where group
// policy sets them or forbids changing them: those are shown greyed and left as they are.
class CSetupDlg : public CDialog {
 public:
  CSetupDlg();

  std::string m_strHost;
  int m_nPort = 0;
  std::string m_strMyNumber;
  std::string m_strFirstName;
  std::string m_strLastName;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;
  void OnOK() override;

 private:
  bool hostFixed_ = false;
  bool portFixed_ = false;
  std::string policyProblem_;
};
