#pragma once
// CPrintInfo: the state of one print job or preview, passed to the view's printing virtuals.
#include <windows.h>
#include <commdlg.h>

#include <string>

class CPrintInfo {
 public:
  CPrintInfo();
  ~CPrintInfo();  // frees the print dialog's device data and deletes the printer DC
  CPrintInfo(const CPrintInfo&) = delete;
  CPrintInfo& operator=(const CPrintInfo&) = delete;

  PRINTDLGA m_pd{};          // the print dialog's data (hDC: the printer DC once chosen)
  BOOL m_bDirect = FALSE;    // Print Direct: no dialog
  BOOL m_bPreview = FALSE;   // print preview
  BOOL m_bContinuePrinting = TRUE;
  UINT m_nCurPage = 1;
  UINT m_nNumPreviewPages = 1;
  RECT m_rectDraw{};         // printable area of the current page, in logical units
  std::string m_strPageDesc;

  void SetMinPage(UINT n) { m_pd.nMinPage = static_cast<WORD>(n); }
  void SetMaxPage(UINT n) { m_pd.nMaxPage = static_cast<WORD>(n); }
  UINT GetMinPage() const { return m_pd.nMinPage; }
  // 0xFFFF (the default): no page count set; the framework prints one page.
  UINT GetMaxPage() const { return m_pd.nMaxPage; }
};
