#pragma once
// The framework's printing sequence for a view (internal to the framework).
#include "agent/framework/print_info.h"

class CView;

namespace fw {
// DoPreparePrinting: the print dialog (or the default printer for Print Direct and preview) and
// the printer's device context in pInfo->m_pd.hDC.
BOOL PreparePrinting(CPrintInfo* pInfo);
// OnPreparePrinting, then OnBeginPrinting, the pages (OnPrepareDC + OnPrint) and OnEndPrinting.
void PrintView(CView* view, CPrintInfo* pInfo);
// A modal preview window showing page 1 drawn by the view, scaled to the window.
void ShowPrintPreview(CView* view);
}  // namespace fw
