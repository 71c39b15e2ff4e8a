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

  // Flags 0: top-left, a line per CR LF, no wrapping, clipped to 800 by 800 units.
  RECT rect{0, 0, 800, 800};
  pDC->DrawText(text, &rect, 0);
}

BOOL CCadeloView::OnPreparePrinting(CPrintInfo* pInfo) { return DoPreparePrinting(pInfo); }

void CCadeloView::OnBeginPrinting(CDC*, CPrintInfo*) {}

void CCadeloView::OnEndPrinting(CDC*, CPrintInfo*) {}
