#pragma once
// The settings document and its view. The document holds no data (the settings live in the
// registry): it exists for the document/view model, printing included, and is the object
// automation clients get; each live document holds one lock on the application. Files hold
// nothing: Save writes an empty file, Open reads nothing.
#include "agent/framework/afx.h"

// {C4E1A7D2-58B3-4F06-A91D-3B72E0F45C19}: answered with the document's IDispatch.
extern const IID IID_ICadelo;

class CCadeloDoc : public CDocument {
 public:
  CCadeloDoc();
  ~CCadeloDoc() override;

  void* GetInterfaceHook(REFIID iid) override;
};

// Shows the current gateway and caller settings as plain text, read afresh from the registry on
// every paint.
class CCadeloView : public CView {
 public:
  void OnDraw(CDC* pDC) override;

 protected:
  const fw::CommandMap* GetCommandMap() const override;
};
