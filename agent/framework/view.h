#pragma once
// CView: a window that shows a document inside a frame. Draws through OnDraw for the screen, the
// printer and the print preview.
#include "agent/framework/dc.h"
#include "agent/framework/print_info.h"
#include "agent/framework/wnd.h"

class CDocument;

class CView : public CWnd {
 public:
  CView();
  ~CView() override;  // removes itself from its document

  CDocument* GetDocument() const { return m_pDocument; }

  // Draws the document on `pDC` (screen paint, printer page or preview page).
  virtual void OnDraw(CDC* pDC) = 0;
  // Called once after the frame was created for the document: OnUpdate(nullptr, 0, nullptr).
  virtual void OnInitialUpdate();
  // The document changed. Default: invalidate the whole client area, erasing the background.
  virtual void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint);
  virtual void OnActivateView(BOOL bActivate, CView* pActivateView, CView* pDeactiveView);
  virtual void OnPrepareDC(CDC* pDC, CPrintInfo* pInfo = nullptr);

  // Printing: OnPreparePrinting (default: DoPreparePrinting) decides whether printing goes on;
  // then OnBeginPrinting, per page OnPrepareDC + OnPrint (default: OnDraw), OnEndPrinting.
  virtual BOOL OnPreparePrinting(CPrintInfo* pInfo);
  // Shows the print dialog (Print Direct: takes the default printer without it) and creates the
  // printer's device context in pInfo. FALSE when cancelled or there is no printer.
  BOOL DoPreparePrinting(CPrintInfo* pInfo);
  virtual void OnBeginPrinting(CDC* pDC, CPrintInfo* pInfo);
  virtual void OnPrint(CDC* pDC, CPrintInfo* pInfo);
  virtual void OnEndPrinting(CDC* pDC, CPrintInfo* pInfo);
  // File > Print, Print Direct (bind ID_FILE_PRINT / ID_FILE_PRINT_DIRECT to this).
  void OnFilePrint();
  // File > Print Preview: a modal preview window drawing page 1 through OnPrint, scaled.
  void OnFilePrintPreview();

  // Routes to the view's map, then to its document.
  BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) override;
  BOOL PreCreateWindow(CREATESTRUCTA& cs) override;
  int OnCreate(LPCREATESTRUCTA cs) override;
  void OnPaint() override;
  void PostNcDestroy() override;  // deletes the view object
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  CDocument* m_pDocument = nullptr;
};
