#include "agent/framework/ui/print.h"

#include <string>
#include <utility>

#include "agent/framework/ui/afx_ids.h"
#include "agent/framework/ui/document.h"
#include "agent/framework/ui/win_app.h"
#include "common/win/handles.h"

namespace {
fw::DrawTextObserver& Observer() {
  static fw::DrawTextObserver observer;
  return observer;
}
}  // namespace

void fw::SetDrawTextObserver(DrawTextObserver observer) { Observer() = std::move(observer); }

int CDC::DrawText(const std::string& text, RECT* rect, UINT format) {
  const int count = static_cast<int>(text.size());
  if (const auto& observer = Observer(); observer && rect) observer(m_hDC, text.c_str(), count, *rect, format);
  return ::DrawTextA(m_hDC, text.c_str(), count, rect, format);
}

CPrintInfo::CPrintInfo() {
  m_pd.lStructSize = sizeof m_pd;
  m_pd.Flags = PD_ALLPAGES | PD_USEDEVMODECOPIESANDCOLLATE | PD_NOPAGENUMS | PD_HIDEPRINTTOFILE | PD_NOSELECTION |
               PD_RETURNDC;
  m_pd.nMinPage = 1;
  m_pd.nMaxPage = 0xFFFF;
  m_pd.nFromPage = 1;
  m_pd.nToPage = 0xFFFF;
}

CPrintInfo::~CPrintInfo() {
  // hDevMode and hDevNames belong to the application (its printer choice); the DC is ours.
  if (m_pd.hDC) ::DeleteDC(m_pd.hDC);
}

namespace {

// A printer DC for the device named in hDevNames (with the settings of hDevMode).
HDC CreatePrinterDC(HGLOBAL devNames, HGLOBAL devMode) {
  const win::GlobalLocked<DEVNAMES> names(devNames);
  if (!names.get()) return nullptr;
  const char* base = reinterpret_cast<const char*>(names.get());
  const win::GlobalLocked<DEVMODEA> mode(devMode);
  return ::CreateDCA(base + names.get()->wDriverOffset, base + names.get()->wDeviceOffset,
                     base + names.get()->wOutputOffset, mode.get());
}

// OnPreparePrinting, then OnBeginPrinting, the page (OnDraw) and OnEndPrinting.
void PrintView(CView* view, CPrintInfo* pInfo) {
  if (!view->OnPreparePrinting(pInfo) || !pInfo->m_pd.hDC) return;
  CDC dc(pInfo->m_pd.hDC, TRUE);

  std::string title = view->GetDocument() ? view->GetDocument()->GetTitle() : std::string();
  DOCINFOA docInfo{};
  docInfo.cbSize = sizeof docInfo;
  docInfo.lpszDocName = title.c_str();

  // The program waits for the printer: no input to the main window meanwhile.
  CWnd* main = AfxGetMainWnd();
  const bool disable = main && main->m_hWnd && main->IsWindowEnabled();
  if (disable) ::EnableWindow(main->m_hWnd, FALSE);

  view->OnBeginPrinting(&dc, pInfo);
  bool failed = ::StartDocA(dc.m_hDC, &docInfo) <= 0;
  if (!failed) {
    // A view has no page count: the print dialog offers no range (PD_NOPAGENUMS), one page prints.
    failed = ::StartPage(dc.m_hDC) <= 0;
    if (!failed) {
      view->OnDraw(&dc);
      failed = ::EndPage(dc.m_hDC) <= 0;
    }
    if (failed) {
      ::AbortDoc(dc.m_hDC);
    } else {
      ::EndDoc(dc.m_hDC);
    }
  }
  view->OnEndPrinting(&dc, pInfo);
  if (disable) ::EnableWindow(main->m_hWnd, TRUE);
  if (failed) AfxMessageBox(fw::LoadStringResource(AFX_IDP_FAILED_TO_START_PRINT, "Failed to start print job."));
}

// File > Print Preview: a modal window that shows page 1 as the view prints it, scaled to fit.

constexpr int kButtonBarHeight = 32;
constexpr int kMargin = 16;

class PreviewWindow : public CWnd {
 public:
  PreviewWindow(CView* view, HDC printer) : view_(view), printer_(printer) {}

  bool closed = false;
  bool printRequested = false;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case WM_CREATE:
        AddButton("&Print...", ID_FILE_PRINT, 8);
        AddButton("&Close", AFX_ID_PREVIEW_CLOSE, 96);
        return 0;
      case WM_COMMAND:
        printRequested = LOWORD(wParam) == ID_FILE_PRINT;
        if (printRequested || LOWORD(wParam) == AFX_ID_PREVIEW_CLOSE || LOWORD(wParam) == IDCANCEL) DestroyWindow();
        return 0;
      case WM_DESTROY:
        closed = true;
        return 0;
      case WM_PAINT:  // the whole window again after a resize (CS_HREDRAW | CS_VREDRAW)
        Paint();
        return 0;
      default:  // WM_CLOSE: the system destroys the window
        return CWnd::WindowProc(message, wParam, lParam);
    }
  }

 private:
  void AddButton(const char* text, UINT id, int x) {
    HWND button = ::CreateWindowExA(0, "BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, x, 4, 80,
                                    24, m_hWnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                    AfxGetInstanceHandle(), nullptr);
    ::SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), TRUE);
  }

  void Paint() {
    PAINTSTRUCT ps;
    HDC hdc = ::BeginPaint(m_hWnd, &ps);
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int pageWidth = ::GetDeviceCaps(printer_, HORZRES);
    const int pageHeight = ::GetDeviceCaps(printer_, VERTRES);
    const int areaWidth = client.right - 2 * kMargin;
    const int areaHeight = client.bottom - kButtonBarHeight - 2 * kMargin;
    if (pageWidth > 0 && pageHeight > 0 && areaWidth > 0 && areaHeight > 0) {
      // The largest page of the printer's proportions that fits.
      int width = areaWidth;
      int height = MulDiv(width, pageHeight, pageWidth);
      if (height > areaHeight) {
        height = areaHeight;
        width = MulDiv(height, pageWidth, pageHeight);
      }
      const int left = (client.right - width) / 2;
      const int top = kButtonBarHeight + kMargin;
      RECT shadow{left + 4, top + 4, left + width + 4, top + height + 4};
      ::FillRect(hdc, &shadow, static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH)));
      RECT page{left, top, left + width, top + height};
      ::FillRect(hdc, &page, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
      ::FrameRect(hdc, &page, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));

      const int saved = ::SaveDC(hdc);
      ::IntersectClipRect(hdc, page.left, page.top, page.right, page.bottom);
      ::SetMapMode(hdc, MM_ANISOTROPIC);
      ::SetWindowExtEx(hdc, pageWidth, pageHeight, nullptr);
      ::SetViewportExtEx(hdc, width, height, nullptr);
      ::SetViewportOrgEx(hdc, left, top, nullptr);
      // The printer's font, in the printer's units, so text scales like the page.
      TEXTMETRICA metrics{};
      char face[LF_FACESIZE] = {};
      ::GetTextMetricsA(printer_, &metrics);
      ::GetTextFaceA(printer_, sizeof face, face);
      const win::GdiObject font(::CreateFontA(metrics.tmHeight, 0, 0, 0, metrics.tmWeight, metrics.tmItalic, FALSE,
                                              FALSE, metrics.tmCharSet, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                              DEFAULT_QUALITY, metrics.tmPitchAndFamily, face));
      HGDIOBJ oldFont = font ? ::SelectObject(hdc, font.get()) : nullptr;
      ::SetBkMode(hdc, TRANSPARENT);
      {
        CDC dc(hdc, TRUE);
        view_->OnDraw(&dc);
      }
      if (oldFont) ::SelectObject(hdc, oldFont);
      ::RestoreDC(hdc, saved);
    }
    ::EndPaint(m_hWnd, &ps);
  }

  CView* view_;
  HDC printer_;
};

void ShowPrintPreview(CView* view) {
  bool print = false;
  {
    CPrintInfo info;
    info.m_bPreview = TRUE;
    if (!view->OnPreparePrinting(&info) || !info.m_pd.hDC) return;
    CDC attributes(info.m_pd.hDC, TRUE);
    view->OnBeginPrinting(&attributes, &info);

    CWnd* main = AfxGetMainWnd();
    PreviewWindow window(view, info.m_pd.hDC);
    const char* className = fw::RegisterWindowClass("FwPrintPreview", CS_HREDRAW | CS_VREDRAW, COLOR_APPWORKSPACE);
    std::string title = fw::AppTitle() + " - Print Preview";
    RECT rect{CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT};
    if (main && main->m_hWnd) ::GetWindowRect(main->m_hWnd, &rect);
    const bool shown = main && main->m_hWnd && main->IsWindowVisible();
    if (window.Create(className, title.c_str(), WS_OVERLAPPEDWINDOW | (shown ? WS_VISIBLE : 0), rect, main, 0)) {
      // Modal: the main window waits until the preview closes.
      const bool disable = main && main->m_hWnd && main->IsWindowEnabled();
      if (disable) ::EnableWindow(main->m_hWnd, FALSE);
      MSG msg;
      while (!window.closed) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
          if (got == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));
          window.DestroyWindow();
          break;
        }
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE && window.m_hWnd) {
          window.DestroyWindow();
          continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
      if (disable) ::EnableWindow(main->m_hWnd, TRUE);
      if (main && main->m_hWnd && shown) ::SetActiveWindow(main->m_hWnd);
      print = window.printRequested;
    }
    view->OnEndPrinting(&attributes, &info);
  }
  if (print) {
    CPrintInfo info;
    PrintView(view, &info);
  }
}

}  // namespace

BOOL CView::DoPreparePrinting(CPrintInfo* pInfo) {
  CWinApp* app = AfxGetApp();
  if (!app) return FALSE;
  PRINTDLGA& pd = pInfo->m_pd;
  if ((pInfo->m_bPreview || pInfo->m_bDirect) && app->GetPrinterDeviceDefaults(&pd)) {
    pd.hDC = CreatePrinterDC(pd.hDevNames, pd.hDevMode);  // the application's printer, no dialog
  } else if (pInfo->m_bPreview) {
    // No printer at all: preview on a page of the screen's size rather than not at all.
    pd.hDC = ::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  } else if (app->DoPrintDialog(&pd) != IDOK) {
    // Print, or Print Direct without a default printer: the user picks (or installs) one; the
    // dialog hands back its device context (PD_RETURNDC).
    return FALSE;
  }
  return pd.hDC != nullptr;
}

void CView::OnFilePrint(UINT nID) {
  CPrintInfo info;
  info.m_bDirect = nID == ID_FILE_PRINT_DIRECT;
  PrintView(this, &info);
}

void CView::OnFilePrintPreview() { ShowPrintPreview(this); }
