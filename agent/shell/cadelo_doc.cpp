#include "agent/shell/cadelo_doc.h"

#include <string>

#include "agent/calls/call_follow.h"
#include "agent/calls/follow_handover.h"
#include "agent/calls/settings_store.h"
#include "agent/shell/shell_text.h"

const IID IID_ICadelo = {0xC4E1A7D2, 0x58B3, 0x4F06, {0xA9, 0x1D, 0x3B, 0x72, 0xE0, 0xF4, 0x5C, 0x19}};

CCadeloDoc::CCadeloDoc() {
  EnableAutomation();
  AfxOleLockApp();
}

CCadeloDoc::~CCadeloDoc() { AfxOleUnlockApp(); }

void* CCadeloDoc::GetInterfaceHook(REFIID iid) {
  if (IsEqualIID(iid, IID_ICadelo)) return GetIDispatch(FALSE);
  return CDocument::GetInterfaceHook(iid);
}

const fw::CommandMap* CCadeloView::GetCommandMap() const {
  static const fw::CommandMap map(CView::GetCommandMap(),
                                  {
                                      fw::OnCommandRange(ID_FILE_PRINT, ID_FILE_PRINT_DIRECT, &CView::OnFilePrint),
                                      fw::OnCommand(ID_FILE_PRINT_PREVIEW, &CView::OnFilePrintPreview),
                                  });
  return &map;
}

void CCadeloView::OnDraw(CDC* pDC) {
  // Nothing is cached: a setting saved a moment ago shows at the next paint.
  SettingsSnapshot settings;
  settings.host = GetHost();
  settings.port = GetPort();
  settings.myNumber = GetMyNumber();
  settings.lastName = GetLastName();
  settings.firstName = GetFirstName();
  const GatewayPolicy policy = ReadGatewayPolicy();
  settings.hostByPolicy = policy.host;
  settings.portByPolicy = policy.port;
  // Below the settings, the reminder calls of this session that the hidden agent followed.
  const std::string text = ComposeSettingsText(settings) + ComposeRecentCallsText(ReadRecentCalls());

  // Top-left, a line per CR LF, no wrapping, clipped to 800 by 800 units. The text is drawn as
  // typed: an "&" in a name is no mnemonic prefix, and the tab before the hint is a tab.
  RECT rect{0, 0, 800, 800};
  pDC->DrawText(text, &rect, DT_NOPREFIX | DT_EXPANDTABS);
}
