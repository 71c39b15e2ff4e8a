#pragma once
// Command ids of the framework tests' own commands (plain #defines for the resource script).
#define ID_TEST_VIEW 40010      /* handled by the view */
#define ID_TEST_DOC 40011       /* handled by the document */
#define ID_TEST_CHILD 40012     /* handled by the child frame */
#define ID_TEST_MAIN 40013      /* handled by the main frame */
#define ID_TEST_APP 40014       /* handled by the application */
#define ID_TEST_DISABLED 40015  /* handled by the application, but its update handler disables it */
#define ID_TEST_EVERYWHERE 40016 /* handled at every level: the view must win */
#define IDD_TEST_DIALOG 130
#define IDC_TEST_TEXT 1000
#define IDC_TEST_NUMBER 1001
#define ID_TEST_THROW 40017    /* handled by the application: throws */
