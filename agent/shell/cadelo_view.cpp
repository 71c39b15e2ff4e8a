#include "agent/shell/cadelo_view.h"

#include <string>

#include "agent/calls/settings_store.h"
#include "agent/shell/settings_text.h"

const fw::CommandMap* CCadeloView::GetCommandMap() const {
  static const fw::CommandMap map(CView::GetCommandMap(),
                                  {
                                      fw::OnCommand(ID_FILE_PRINT, &CView::OnFilePrint),
                                      fw::OnCommand(ID_FILE_PRINT_DIRECT, &CView::OnFilePrint),
                                      fw::OnCommand(ID_FILE_PRINT_PREVIEW, &CView::OnFilePrintPreview),
                                  });
  return &map;
}

BOOL CCadeloView::PreCreateWindow(CREATESTRUCTA& cs) { return CView::PreCreateWindow(cs); }

void CCadeloView::OnUpdate(CView*, LPARAM, CObject*) { ::InvalidateRect(m_hWnd, nullptr, TRUE); }

void CCadeloView::OnDraw(CDC* pDC) {
  // Nothing is cached: a setting saved a moment ago shows at the next paint.
  SettingsSnapshot settings;
  settings.host = GetHost();
  settings.port = GetPort();
  settings.myNumber = GetMyNumber();
  settings.lastName = GetLastName();
  settings.firstName = GetFirstName();
  const std::string text = ComposeSettingsText(settings);

  // Top-left, a line per CR LF, no wrapping, clipped to 800 by 800 units. The text is drawn as
  // typed: an "&" in a name is no mnemonic prefix, and the tab before the hint is a tab.
  RECT rect{0, 0, 800, 800};
  pDC->DrawText(text, &rect, DT_NOPREFIX | DT_EXPANDTABS);
}

BOOL CCadeloView::OnPreparePrinting(CPrintInfo* pInfo) { return DoPreparePrinting(pInfo); }

void CCadeloView::OnBeginPrinting(CDC*, CPrintInfo*) {}

void CCadeloView::OnEndPrinting(CDC*, CPrintInfo*) {}
