#pragma once
// CChildFrame: the document window holding one settings view.
#include "agent/framework/afx.h"

class CChildFrame : public CMDIChildWnd {
 public:
  CChildFrame() = default;
  BOOL PreCreateWindow(CREATESTRUCTA& cs) override;
};
