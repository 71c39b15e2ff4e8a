#include "agent/shell/cadelo_doc.h"

const IID IID_ICadelo = {0xC4E1A7D2, 0x58B3, 0x4F06, {0xA9, 0x1D, 0x3B, 0x72, 0xE0, 0xF4, 0x5C, 0x19}};

CCadeloDoc::CCadeloDoc() {
  EnableAutomation();
  AfxOleLockApp();
}

CCadeloDoc::~CCadeloDoc() { AfxOleUnlockApp(); }

// Files hold nothing: Save writes an empty file, Open reads nothing.
void CCadeloDoc::Serialize(CArchive&) {}

BOOL CCadeloDoc::OnNewDocument() { return CDocument::OnNewDocument() ? TRUE : FALSE; }

void* CCadeloDoc::GetInterfaceHook(REFIID iid) {
  if (IsEqualIID(iid, IID_ICadelo)) return GetIDispatch(FALSE);
  return CDocument::GetInterfaceHook(iid);
}
