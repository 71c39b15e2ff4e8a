#pragma once
// Drawing and printing: CDC, the device context a view draws on (screen, printer or print
// preview), CPrintInfo, the state of one print job or preview, and the framework's printing
// sequence and preview window behind CView::OnFilePrint and OnFilePrintPreview.
#include <windows.h>
#include <commdlg.h>

#include <functional>
#include <string>

class CView;

// Does not own its HDC.
class CDC {
 public:
  explicit CDC(HDC dc, BOOL printing = FALSE) : m_hDC(dc), m_bPrinting(printing) {}

  HDC m_hDC;         // where output goes
  BOOL m_bPrinting;  // printer or preview

  // DrawTextA on this context with the whole text. Every call is reported to the DrawText
  // observer first.
  int DrawText(const std::string& text, RECT* rect, UINT format);
};

class CPrintInfo {
 public:
  CPrintInfo();
  ~CPrintInfo();  // deletes the printer DC (the device data belong to the application)
  CPrintInfo(const CPrintInfo&) = delete;
  CPrintInfo& operator=(const CPrintInfo&) = delete;

  PRINTDLGA m_pd{};          // the print dialog's data (hDC: the printer DC once chosen)
  BOOL m_bDirect = FALSE;    // Print Direct: no dialog
  BOOL m_bPreview = FALSE;   // print preview
};

namespace fw {
// Observes every CDC::DrawText call (the exact text with its count, rectangle and flags) before
// it reaches the device context. Empty (the default) observes nothing.
using DrawTextObserver =
    std::function<void(HDC dc, const char* text, int count, const RECT& rect, UINT format)>;
void SetDrawTextObserver(DrawTextObserver observer);
}  // namespace fw
