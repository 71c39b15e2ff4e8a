#pragma once
// CAboutDlg: the About box (dialog 100).
#include "agent/framework/afx.h"

class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
};
