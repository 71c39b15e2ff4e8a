#include "agent/shell/child_frame.h"

BOOL CChildFrame::PreCreateWindow(CREATESTRUCTA& cs) { return CMDIChildWnd::PreCreateWindow(cs); }
