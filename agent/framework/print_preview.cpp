// File > Print Preview: a modal window that shows page 1 as the view prints it, scaled to fit.
#include <string>

#include "agent/framework/afx_ids.h"
#include "agent/framework/app_title.h"
#include "agent/framework/document.h"
#include "agent/framework/print_job.h"
#include "agent/framework/view.h"
#include "agent/framework/win_app.h"

namespace fw {
namespace {

constexpr int kButtonBarHeight = 32;
constexpr int kMargin = 16;

class PreviewWindow : public CWnd {
 public:
  PreviewWindow(CView* view, CPrintInfo* info) : view_(view), info_(info) {}

  bool closed = false;
  bool printRequested = false;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case WM_CREATE:
        AddButton("&Print...", ID_FILE_PRINT, 8);
        AddButton("&Close", AFX_ID_PREVIEW_CLOSE, 96);
        return 0;
      case WM_COMMAND:
        if (LOWORD(wParam) == ID_FILE_PRINT) {
          printRequested = true;
          DestroyWindow();
        } else if (LOWORD(wParam) == AFX_ID_PREVIEW_CLOSE || LOWORD(wParam) == IDCANCEL) {
          DestroyWindow();
        }
        return 0;
      case WM_CLOSE:
        DestroyWindow();
        return 0;
      case WM_DESTROY:
        closed = true;
        return 0;
      case WM_PAINT:
        Paint();
        return 0;
      case WM_SIZE:
        Invalidate(TRUE);
        return 0;
      default:
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
    HDC printer = info_->m_pd.hDC;
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int pageWidth = ::GetDeviceCaps(printer, HORZRES);
    const int pageHeight = ::GetDeviceCaps(printer, VERTRES);
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
      ::GetTextMetricsA(printer, &metrics);
      ::GetTextFaceA(printer, sizeof face, face);
      HFONT font = ::CreateFontA(metrics.tmHeight, 0, 0, 0, metrics.tmWeight, metrics.tmItalic, FALSE, FALSE,
                                 metrics.tmCharSet, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 metrics.tmPitchAndFamily, face);
      HGDIOBJ oldFont = font ? ::SelectObject(hdc, font) : nullptr;
      ::SetBkMode(hdc, TRANSPARENT);
      {
        CDC dc;
        dc.m_hDC = hdc;
        dc.m_hAttribDC = printer;
        dc.m_bPrinting = TRUE;
        info_->m_nCurPage = 1;
        info_->m_bContinuePrinting = TRUE;
        view_->OnPrepareDC(&dc, info_);
        info_->m_rectDraw = RECT{0, 0, pageWidth, pageHeight};
        view_->OnPrint(&dc, info_);
      }
      if (oldFont) ::SelectObject(hdc, oldFont);
      if (font) ::DeleteObject(font);
      ::RestoreDC(hdc, saved);
    }
    ::EndPaint(m_hWnd, &ps);
  }

  CView* view_;
  CPrintInfo* info_;
};

}  // namespace

void ShowPrintPreview(CView* view) {
  bool print = false;
  {
    CPrintInfo info;
    info.m_bPreview = TRUE;
    if (!view->OnPreparePrinting(&info) || !info.m_pd.hDC) return;
    CDC attributes(info.m_pd.hDC);
    attributes.m_bPrinting = TRUE;
    view->OnBeginPrinting(&attributes, &info);

    CWnd* main = AfxGetMainWnd();
    PreviewWindow window(view, &info);
    const char* className = RegisterWindowClass("FwPrintPreview", CS_HREDRAW | CS_VREDRAW,
                                                reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1));
    std::string title = AppTitle() + " - Print Preview";
    RECT rect{CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT};
    if (main && main->m_hWnd) main->GetWindowRect(&rect);
    const bool shown = main && main->m_hWnd && main->IsWindowVisible();
    if (window.CreateEx(0, className, title.c_str(), WS_OVERLAPPEDWINDOW | (shown ? WS_VISIBLE : 0), rect, main, 0)) {
      // Modal: the main window waits until the preview closes.
      const bool disable = main && main->m_hWnd && main->IsWindowEnabled();
      if (disable) main->EnableWindow(FALSE);
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
      if (disable) main->EnableWindow(TRUE);
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

}  // namespace fw
