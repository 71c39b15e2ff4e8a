#pragma once
// CCadeloView: shows the current gateway and caller settings as plain text, read afresh from the
// registry on every paint.
#include "agent/framework/afx.h"

class CCadeloView : public CView {
 public:
  CCadeloView() = default;

  BOOL PreCreateWindow(CREATESTRUCTA& cs) override;
  void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint) override;
  void OnDraw(CDC* pDC) override;
  BOOL OnPreparePrinting(CPrintInfo* pInfo) override;
  void OnBeginPrinting(CDC* pDC, CPrintInfo* pInfo) override;
  void OnEndPrinting(CDC* pDC, CPrintInfo* pInfo) override;

 protected:
  const fw::CommandMap* GetCommandMap() const override;
};
