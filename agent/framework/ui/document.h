#pragma once
// Documents and their views: CDocument, the data behind one or more views, created by its
// document template and closed (and released) when its last view goes away; CDocTemplate / CMultiDocTemplate, which create documents with
// their frames and views; CView, the window that shows a document.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "agent/framework/ui/cmd_target.h"
#include "agent/framework/ui/print.h"
#include "agent/framework/ui/wnd.h"

class CDocTemplate;
class CFrameWnd;
class CMDIChildWnd;
class CView;

// Handles File Close, Save and Save As.
class CDocument : public CCmdTarget {
 public:
  ~CDocument() override;

  const std::string& GetTitle() const { return m_strTitle; }
  // Sets the title and updates the captions of the document's frames.
  void SetTitle(const char* title);
  const std::string& GetPathName() const { return m_strPathName; }
  // Sets the file path (and the title from its file name); adds it to the recent-file list.
  void SetPathName(const char* path);
  BOOL IsModified() const { return m_bModified; }
  void SetModifiedFlag(BOOL bModified = TRUE) { m_bModified = bModified; }

  // Views, in the order they were added.
  void AddView(CView* view);
  void RemoveView(CView* view);
  const std::vector<CView*>& GetViews() const { return views_; }
  // Calls OnUpdate(pSender, lHint, pHint) of every view of this document except pSender.
  void UpdateAllViews(CView* pSender, LPARAM lHint = 0, CObject* pHint = nullptr);
  // Numbers the frames of this document (":1", ":2" when there are several) and updates titles.
  void UpdateFrameCounts();

  // Life cycle.
  // A document holds nothing of its own: a file opens when it can be read and saves as an empty
  // file.
  BOOL OnOpenDocument(const char* path); // the file must open; message on failure
  BOOL OnSaveDocument(const char* path); // replaces the file; message on failure
  // Destroys the document's frames and releases the framework's reference (deleting the document
  // unless automation clients still hold it).
  void OnCloseDocument();
  // Asks whether to save a modified document; FALSE when the user cancels.
  BOOL SaveModified();
  // Save to `path`, or (null) Save As with a file dialog; FALSE when not saved.
  BOOL DoSave(const char* path);

  // File menu commands (in this class's command map).
  void OnFileClose();
  void OnFileSave();
  void OnFileSaveAs();

  // Routes to this document's map, then to its template's.
  BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra) override;
  // At the last COM release: closes the document if the framework closed it already or no view
  // shows it; then deletes it.
  void OnFinalRelease() override;
  // Gives up the reference the framework holds from creation (once): the document then lives
  // as long as COM clients hold it. The class factory hands it to the client this way.
  void ReleaseFrameworkReference();

  BOOL m_bAutoDelete = TRUE;  // delete when the last view closes
  CDocTemplate* m_pDocTemplate = nullptr;
  std::string m_strTitle;
  std::string m_strPathName;
  BOOL m_bModified = FALSE;

 protected:
  const fw::CommandMap* GetCommandMap() const override;

 private:
  std::vector<CView*> views_;
  bool closing_ = false;
  bool closed_ = false;
  bool frameworkReference_ = true;
};

// Creates documents of one type with their child frames and views, from a resource id (menu,
// icon and the "\n"-separated template string) and three factories. Example:
//   AddDocTemplate(new CMultiDocTemplate(129, RUNTIME_CLASS(CMyDoc), RUNTIME_CLASS(CChildFrame),
//                                        RUNTIME_CLASS(CMyView)));

namespace fw {
// A factory function for a framework class: fw::New<CMyView> converts to std::function<CView*()>.
template <class T>
T* New() {
  return new T;
}
}  // namespace fw
#define RUNTIME_CLASS(T) (&fw::New<T>)

class CDocTemplate : public CCmdTarget {
 public:
  using DocumentFactory = std::function<CDocument*()>;
  using FrameFactory = std::function<CMDIChildWnd*()>;
  using ViewFactory = std::function<CView*()>;

  // Fields of the template string (resource nIDResource), in order, e.g.
  // "\nCadel\nCadel\nCadel Files (*.cad)\n.cad\nCadelo.Document\nCadel Document": the window title
  // (MDI: unused), the base of "Cadel1", "Cadel2"..., the File New name, the filter, its extension,
  // the ProgID and the type's description.
  enum DocStringIndex { windowTitle, docName, fileNewName, filterName, filterExt, regFileTypeId, regFileTypeName };

  // Loads the template string and the child frames' menu and accelerators.
  CDocTemplate(UINT nIDResource, DocumentFactory doc, FrameFactory frame, ViewFactory view);
  ~CDocTemplate() override;  // closes nothing; frees the loaded menu

  // One field of the template string; empty when missing.
  std::string GetDocString(DocStringIndex index) const;

  // Null path: a new document (not modified, titled "<docName><n>" with n counting new documents
  // from 1); otherwise opens the file (OnOpenDocument). Creates its frame and view; bMakeVisible
  // FALSE keeps the frame hidden. Null on failure (the user has seen why when it was a file
  // problem).
  CDocument* OpenDocumentFile(const char* path, BOOL bMakeVisible = TRUE);
  // A new frame with a new view on `doc`.
  CMDIChildWnd* CreateNewFrame(CDocument* doc);
  void RemoveDocument(CDocument* doc);
  const std::vector<CDocument*>& GetDocuments() const { return documents_; }
  // Closes every document of this template (their frames too).
  void CloseAllDocuments();
  // Asks each modified document whether to save; FALSE when the user cancels.
  BOOL SaveAllModified();

  HMENU m_hMenuShared = nullptr;  // menu of the child frames (owned)
  HACCEL m_hAccelTable = nullptr;

 private:
  UINT m_nIDResource;
  DocumentFactory m_pDocClass;
  FrameFactory m_pFrameClass;
  ViewFactory m_pViewClass;
  std::string m_strDocStrings;
  std::vector<CDocument*> documents_;
  UINT untitledCount_ = 0;
};

// The application's documents live in MDI child frames: the one kind of template there is.
using CMultiDocTemplate = CDocTemplate;

// Shows a document inside a frame. Draws through OnDraw for the screen, the printer and the
// print preview.
class CView : public CWnd {
 public:
  ~CView() override;  // removes itself from its document

  CDocument* GetDocument() const { return m_pDocument; }

  // Draws the document on `pDC` (screen paint, printer page or preview page).
  virtual void OnDraw(CDC* pDC) = 0;
  // The document changed (also once when the frame was first shown, all arguments null).
  // Default: invalidate the whole client area, erasing the background.
  virtual void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint);
  // The view became the active one: it takes the focus when its top-level window is active.
  void OnActivateView();

  // Printing: OnPreparePrinting (default: DoPreparePrinting) decides whether printing goes on;
  // then OnBeginPrinting, the one page (OnDraw), OnEndPrinting.
  virtual BOOL OnPreparePrinting(CPrintInfo* pInfo);
  // Shows the print dialog (Print Direct: takes the default printer without it) and creates the
  // printer's device context in pInfo. FALSE when cancelled or there is no printer.
  BOOL DoPreparePrinting(CPrintInfo* pInfo);
  virtual void OnBeginPrinting(CDC* pDC, CPrintInfo* pInfo);
  virtual void OnEndPrinting(CDC* pDC, CPrintInfo* pInfo);
  // File > Print and Print Direct: bind OnCommandRange(ID_FILE_PRINT, ID_FILE_PRINT_DIRECT, ...).
  void OnFilePrint(UINT nID);
  // File > Print Preview: a modal preview window drawing page 1 through OnDraw, scaled.
  void OnFilePrintPreview();

  // Routes to the view's map, then to its document.
  BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra) override;
  BOOL PreCreateWindow(CREATESTRUCTA& cs) override;
  int OnCreate(LPCREATESTRUCTA cs) override;
  void OnPaint() override;
  void PostNcDestroy() override;  // deletes the view object
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  CDocument* m_pDocument = nullptr;
};
