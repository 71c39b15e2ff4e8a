#include "agent/framework/print_job.h"

#include <string>

#include "agent/framework/afx_ids.h"
#include "agent/framework/document.h"
#include "agent/framework/message_box.h"
#include "agent/framework/view.h"
#include "agent/framework/win_app.h"

namespace fw {
namespace {

// A printer DC for the device named in hDevNames (with the settings of hDevMode).
HDC CreatePrinterDC(HGLOBAL devNames, HGLOBAL devMode) {
  if (!devNames) return nullptr;
  auto* names = static_cast<DEVNAMES*>(::GlobalLock(devNames));
  if (!names) return nullptr;
  const char* base = reinterpret_cast<const char*>(names);
  auto* mode = devMode ? static_cast<DEVMODEA*>(::GlobalLock(devMode)) : nullptr;
  HDC dc = ::CreateDCA(base + names->wDriverOffset, base + names->wDeviceOffset, base + names->wOutputOffset, mode);
  if (mode) ::GlobalUnlock(devMode);
  ::GlobalUnlock(devNames);
  return dc;
}

}  // namespace

BOOL PreparePrinting(CPrintInfo* pInfo) {
  CWinApp* app = AfxGetApp();
  if (!app) return FALSE;
  if (pInfo->m_bPreview || pInfo->m_bDirect) {
    if (!pInfo->m_pd.hDC) {
      if (!app->GetPrinterDeviceDefaults(&pInfo->m_pd)) {
        if (pInfo->m_bPreview) {
          // No printer at all: preview on a page of the screen's size rather than not at all.
          pInfo->m_pd.hDC = ::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
          return pInfo->m_pd.hDC != nullptr;
        }
        // No default printer: let the user pick or install one.
        if (app->DoPrintDialog(&pInfo->m_pd) != IDOK) return FALSE;
      }
      if (!pInfo->m_pd.hDC) pInfo->m_pd.hDC = CreatePrinterDC(pInfo->m_pd.hDevNames, pInfo->m_pd.hDevMode);
      if (!pInfo->m_pd.hDC) return FALSE;
    }
    pInfo->m_pd.nFromPage = static_cast<WORD>(pInfo->GetMinPage());
    pInfo->m_pd.nToPage = static_cast<WORD>(pInfo->GetMaxPage());
  } else {
    pInfo->m_pd.nFromPage = static_cast<WORD>(pInfo->GetMinPage());
    pInfo->m_pd.nToPage = static_cast<WORD>(pInfo->GetMaxPage());
    pInfo->m_pd.Flags |= PD_RETURNDC;
    if (app->DoPrintDialog(&pInfo->m_pd) != IDOK) return FALSE;
  }
  return pInfo->m_pd.hDC != nullptr;
}

void PrintView(CView* view, CPrintInfo* pInfo) {
  if (!view->OnPreparePrinting(pInfo) || !pInfo->m_pd.hDC) return;
  CDC dc(pInfo->m_pd.hDC);
  dc.m_bPrinting = TRUE;

  std::string title = view->GetDocument() ? view->GetDocument()->GetTitle() : std::string();
  DOCINFOA docInfo{};
  docInfo.cbSize = sizeof docInfo;
  docInfo.lpszDocName = title.c_str();

  // The program waits for the printer: no input to the main window meanwhile.
  CWnd* main = AfxGetMainWnd();
  const bool disable = main && main->m_hWnd && main->IsWindowEnabled();
  if (disable) main->EnableWindow(FALSE);

  view->OnBeginPrinting(&dc, pInfo);
  bool failed = ::StartDocA(dc.m_hDC, &docInfo) <= 0;
  if (!failed) {
    const UINT last = pInfo->m_pd.Flags & PD_PAGENUMS ? pInfo->m_pd.nToPage : pInfo->GetMaxPage();
    const UINT first = pInfo->m_pd.Flags & PD_PAGENUMS ? pInfo->m_pd.nFromPage : pInfo->GetMinPage();
    for (pInfo->m_nCurPage = first; pInfo->m_nCurPage <= last; ++pInfo->m_nCurPage) {
      view->OnPrepareDC(&dc, pInfo);
      if (!pInfo->m_bContinuePrinting) break;
      if (::StartPage(dc.m_hDC) <= 0) {
        failed = true;
        break;
      }
      pInfo->m_rectDraw = RECT{0, 0, dc.GetDeviceCaps(HORZRES), dc.GetDeviceCaps(VERTRES)};
      ::DPtoLP(dc.m_hDC, reinterpret_cast<POINT*>(&pInfo->m_rectDraw), 2);
      view->OnPrint(&dc, pInfo);
      if (::EndPage(dc.m_hDC) <= 0) {
        failed = true;
        break;
      }
    }
    if (failed) {
      ::AbortDoc(dc.m_hDC);
    } else {
      ::EndDoc(dc.m_hDC);
    }
  }
  view->OnEndPrinting(&dc, pInfo);
  if (disable) main->EnableWindow(TRUE);
  if (failed) AfxMessageBox(LoadStringResource(AFX_IDP_FAILED_TO_START_PRINT, "Failed to start print job."));
}

}  // namespace fw
