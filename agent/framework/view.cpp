#include "agent/framework/view.h"

#include "agent/framework/document.h"
#include "agent/framework/frame_wnd.h"
#include "agent/framework/print_job.h"

CView::CView() = default;

CView::~CView() {
  if (m_pDocument) m_pDocument->RemoveView(this);
}

BOOL CView::PreCreateWindow(CREATESTRUCTA& cs) {
  cs.style |= WS_CLIPSIBLINGS;
  if (cs.style & WS_BORDER) {  // a sunken edge instead of a flat border
    cs.dwExStyle |= WS_EX_CLIENTEDGE;
    cs.style &= ~WS_BORDER;
  }
  return CWnd::PreCreateWindow(cs);
}

int CView::OnCreate(LPCREATESTRUCTA cs) {
  if (CWnd::OnCreate(cs) == -1) return -1;
  auto* context = static_cast<CCreateContext*>(cs->lpCreateParams);
  if (context && context->m_pCurrentDoc) context->m_pCurrentDoc->AddView(this);
  return 0;
}

LRESULT CView::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    if (CFrameWnd* frame = GetParentFrame()) {
      if (frame->activeView_ == this) frame->activeView_ = nullptr;
    }
  }
  return CWnd::WindowProc(message, wParam, lParam);
}

void CView::PostNcDestroy() { delete this; }

void CView::OnPaint() {
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  {
    CDC dc(hdc);
    OnPrepareDC(&dc, nullptr);
    OnDraw(&dc);
  }
  ::EndPaint(m_hWnd, &ps);
}

void CView::OnInitialUpdate() { OnUpdate(nullptr, 0, nullptr); }

void CView::OnUpdate(CView*, LPARAM, CObject*) { ::InvalidateRect(m_hWnd, nullptr, TRUE); }

void CView::OnActivateView(BOOL bActivate, CView* pActivateView, CView*) {
  if (!bActivate || pActivateView != this || !m_hWnd) return;
  // Take the focus when our top-level window is the active one.
  CFrameWnd* top = GetTopLevelFrame();
  if (top && top->m_hWnd && ::GetActiveWindow() == top->m_hWnd) ::SetFocus(m_hWnd);
}

void CView::OnPrepareDC(CDC* pDC, CPrintInfo* pInfo) {
  // Without a page count only page 1 is printed.
  if (pDC && pDC->IsPrinting() && pInfo && pInfo->GetMaxPage() == 0xFFFF && pInfo->m_nCurPage > 1) {
    pInfo->m_bContinuePrinting = FALSE;
  }
}

BOOL CView::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) {
  if (CWnd::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo)) return TRUE;
  return m_pDocument && m_pDocument->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

BOOL CView::OnPreparePrinting(CPrintInfo* pInfo) { return DoPreparePrinting(pInfo); }

BOOL CView::DoPreparePrinting(CPrintInfo* pInfo) { return fw::PreparePrinting(pInfo); }

void CView::OnBeginPrinting(CDC*, CPrintInfo*) {}

void CView::OnPrint(CDC* pDC, CPrintInfo*) { OnDraw(pDC); }

void CView::OnEndPrinting(CDC*, CPrintInfo*) {}

void CView::OnFilePrint() {
  CPrintInfo info;
  info.m_bDirect = fw::CurrentCommandId() == ID_FILE_PRINT_DIRECT;
  fw::PrintView(this, &info);
}

void CView::OnFilePrintPreview() { fw::ShowPrintPreview(this); }
