#pragma once
// CCadeloDoc: the settings document. It holds no data (the settings live in the registry); it
// exists for the document/view model and is the object automation clients get. Each live
// document holds one lock on the application.
#include "agent/framework/afx.h"

// {C4E1A7D2-58B3-4F06-A91D-3B72E0F45C19}: answered with the document's IDispatch.
extern const IID IID_ICadelo;

class CCadeloDoc : public CDocument {
 public:
  CCadeloDoc();
  ~CCadeloDoc() override;

  void Serialize(CArchive& ar) override;
  BOOL OnNewDocument() override;
  void* GetInterfaceHook(REFIID iid) override;
};
