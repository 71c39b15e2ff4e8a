#include "agent/shell/about_dlg.h"

#include "agent/res/resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
