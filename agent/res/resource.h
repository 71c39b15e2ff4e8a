#pragma once
// Resource ids of cadelo's own menus, dialogs, strings and controls. The framework's standard
// command and string ids are in agent/framework/ui/afx_ids.h.

#define IDC_STATIC (-1)

#define IDD_ABOUTBOX 100
#define IDD_SETUP 130

// Strings shown when start-up cannot initialise a system library.
#define IDP_OLE_INIT_FAILED 100
#define IDP_SOCKETS_INIT_FAILED 104

// Main frame (menu, accelerators, icon, caption, toolbar) and document type (menu, icon, string).
#define IDR_MAINFRAME 128
#define IDR_CADELTYPE 129

// Setup dialog edits.
#define IDC_HOST 1000
#define IDC_PORT 1001
#define IDC_MYNUMBER 1002
#define IDC_FIRSTNAME 1003
#define IDC_LASTNAME 1004

// File > Setup.
#define ID_FILE_SETUP 32771
