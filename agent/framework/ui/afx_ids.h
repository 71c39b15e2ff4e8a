#pragma once
// The framework's command, string and window ids. Plain #defines so resource scripts can include
// this file too (windres: #include "agent/framework/ui/afx_ids.h").

// Strings the framework loads from the executable (it falls back to built-in English text).
#define AFX_IDS_APP_TITLE 0xE000             /* 57344 application title */
#define AFX_IDS_IDLEMESSAGE 0xE001           /* 57345 "Ready" */
#define AFX_IDP_FAILED_TO_OPEN_DOC 0xF101    /* 61697 */
#define AFX_IDP_FAILED_TO_SAVE_DOC 0xF102    /* 61698 */
#define AFX_IDP_ASK_TO_SAVE 0xF103          /* 61699 "Save changes to %1?" */
#define AFX_IDP_FAILED_TO_CREATE_DOC 0xF104  /* 61700 */
#define AFX_IDP_COMMAND_FAILURE 0xF10C     /* 61708 */
#define AFX_IDP_FAILED_TO_START_PRINT 0xF10A /* 61706 */
#define AFX_IDP_PARSE_INT 0xF110             /* 61712 "Please enter an integer." */
#define AFX_IDP_PARSE_INT_RANGE 0xF112       /* 61714 "Please enter an integer between %1 and %2." */
#define AFX_IDP_PARSE_STRING_SIZE 0xF114     /* 61716 "Please enter no more than %1 characters." */
#define AFX_IDS_UNTITLED 0xF000              /* 61440 */
#define AFX_IDS_ALLFILTER 0xF002             /* 61442 "All Files (*.*)" */
#define AFX_IDS_PREVIEW_CLOSE 0xF005         /* 61445 */

// File menu.
#define ID_FILE_NEW 0xE100           /* 57600 */
#define ID_FILE_OPEN 0xE101          /* 57601 */
#define ID_FILE_CLOSE 0xE102         /* 57602 */
#define ID_FILE_SAVE 0xE103          /* 57603 */
#define ID_FILE_SAVE_AS 0xE104       /* 57604 */
#define ID_FILE_PAGE_SETUP 0xE105    /* 57605 */
#define ID_FILE_PRINT_SETUP 0xE106   /* 57606 */
#define ID_FILE_PRINT 0xE107         /* 57607 */
#define ID_FILE_PRINT_DIRECT 0xE108  /* 57608 */
#define ID_FILE_PRINT_PREVIEW 0xE109 /* 57609 */
#define ID_FILE_MRU_FIRST 0xE110     /* 57616 */
#define ID_FILE_MRU_FILE1 0xE110     /* 57616 */
#define ID_FILE_MRU_LAST 0xE11F      /* 57631 */

// Edit menu.
#define ID_EDIT_COPY 0xE122    /* 57634 */
#define ID_EDIT_CUT 0xE123     /* 57635 */
#define ID_EDIT_PASTE 0xE125   /* 57637 */
#define ID_EDIT_UNDO 0xE12B    /* 57643 */

// Window menu.
#define ID_WINDOW_NEW 0xE130      /* 57648 */
#define ID_WINDOW_ARRANGE 0xE131  /* 57649 */
#define ID_WINDOW_CASCADE 0xE132  /* 57650 */
#define ID_WINDOW_TILE_HORZ 0xE133 /* 57651 */
#define ID_WINDOW_TILE_VERT 0xE134 /* 57652 */
#define ID_WINDOW_SPLIT 0xE135    /* 57653 */

// Application.
#define ID_APP_ABOUT 0xE140  /* 57664 */
#define ID_APP_EXIT 0xE141   /* 57665 */
#define ID_NEXT_PANE 0xE150  /* 57680 */
#define ID_PREV_PANE 0xE151  /* 57681 */

// Status bar indicators.
#define ID_SEPARATOR 0
#define ID_INDICATOR_EXT 0xE700  /* 59136 */
#define ID_INDICATOR_CAPS 0xE701 /* 59137 */
#define ID_INDICATOR_NUM 0xE702  /* 59138 */
#define ID_INDICATOR_SCRL 0xE703 /* 59139 */
#define ID_INDICATOR_OVR 0xE704  /* 59140 */
#define ID_INDICATOR_REC 0xE705  /* 59141 */

// View menu toggles; the same numbers are the control bars' child window ids.
#define ID_VIEW_TOOLBAR 0xE800    /* 59392 */
#define ID_VIEW_STATUS_BAR 0xE801 /* 59393 */
#define AFX_IDW_TOOLBAR 0xE800
#define AFX_IDW_STATUS_BAR 0xE801
#define AFX_IDW_PANE_FIRST 0xE900 /* the view inside a child frame */

// Print preview toolbar.
#define AFX_ID_PREVIEW_CLOSE 0xE300 /* 58112 */

// First id of the MDI "Window" menu's list of child windows.
#define AFX_IDM_FIRST_MDICHILD 0xFF00

// Resource type of a toolbar: WORD version (1), WORD width, WORD height, WORD count, then count
// WORD command ids (0 = separator).
#define RT_TOOLBAR_ID 241

// Frame and control bar styles.
#define FWS_ADDTOTITLE 0x00008000L
#define CBRS_ALIGN_TOP 0x2000L
#define CBRS_ALIGN_BOTTOM 0x8000L
#define CBRS_TOP (CBRS_ALIGN_TOP | 0x0800L) /* border at the bottom */
#define CBRS_BOTTOM (CBRS_ALIGN_BOTTOM | 0x0200L) /* border at the top */
#define CBRS_TOOLTIPS 0x0010L
#define CBRS_FLYBY 0x0020L
#define CBRS_GRIPPER 0x00400000L
#define CBRS_SIZE_DYNAMIC 0x0004L
