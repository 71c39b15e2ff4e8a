#pragma once
// CDocTemplate / CMultiDocTemplate: creates documents of one type with their child frames and
// views, from a resource id (menu, icon and the "\n"-separated template string) and three
// factories. Example:
//   AddDocTemplate(new CMultiDocTemplate(129, RUNTIME_CLASS(CMyDoc), RUNTIME_CLASS(CChildFrame),
//                                        RUNTIME_CLASS(CMyView)));
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "agent/framework/cmd_target.h"

class CDocument;
class CFrameWnd;
class CView;

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
  using FrameFactory = std::function<CFrameWnd*()>;
  using ViewFactory = std::function<CView*()>;

  // Fields of the template string (resource nIDResource), in order.
  enum DocStringIndex {
    windowTitle,      // MDI: unused
    docName,          // base of "Cadel1", "Cadel2", ...
    fileNewName,
    filterName,       // e.g. "Cadel Files (*.cad)"
    filterExt,        // e.g. ".cad"
    regFileTypeId,    // ProgID, e.g. "Cadelo.Document"
    regFileTypeName,  // description, e.g. "Cadel Document"
  };

  CDocTemplate(UINT nIDResource, DocumentFactory doc, FrameFactory frame, ViewFactory view);
  ~CDocTemplate() override;  // closes nothing; frees the loaded menu

  UINT GetResourceId() const { return m_nIDResource; }
  // One field of the template string; FALSE (and empty) when missing.
  BOOL GetDocString(std::string& out, DocStringIndex index) const;
  // Loads the template string, the shared menu and accelerators (called by AddDocTemplate).
  virtual void LoadTemplate();

  // Null path: a new document (OnNewDocument, default title); otherwise opens the file
  // (OnOpenDocument). Creates its frame and view; bMakeVisible FALSE keeps the frame hidden.
  // Null on failure (the user has seen why when it was a file problem).
  virtual CDocument* OpenDocumentFile(const char* path, BOOL bMakeVisible = TRUE) = 0;
  virtual CDocument* CreateNewDocument();
  // A new frame with a new view on `doc` (`other`: the frame it copies, may be null).
  virtual CFrameWnd* CreateNewFrame(CDocument* doc, CFrameWnd* other);
  virtual void InitialUpdateFrame(CFrameWnd* frame, CDocument* doc, BOOL bMakeVisible = TRUE);
  virtual void AddDocument(CDocument* doc);
  virtual void RemoveDocument(CDocument* doc);
  virtual void SetDefaultTitle(CDocument* doc) = 0;
  const std::vector<CDocument*>& GetDocuments() const { return documents_; }
  // Closes every document of this template (their frames too).
  virtual void CloseAllDocuments(BOOL bEndSession);
  // Asks each modified document whether to save; FALSE when the user cancels.
  BOOL SaveAllModified();

  HMENU m_hMenuShared = nullptr;  // menu of the child frames (owned)
  HACCEL m_hAccelTable = nullptr;
  std::string m_strDocStrings;

 protected:
  UINT m_nIDResource;
  DocumentFactory m_pDocClass;
  FrameFactory m_pFrameClass;
  ViewFactory m_pViewClass;
  std::vector<CDocument*> documents_;
};

class CMultiDocTemplate : public CDocTemplate {
 public:
  CMultiDocTemplate(UINT nIDResource, DocumentFactory doc, FrameFactory frame, ViewFactory view)
      : CDocTemplate(nIDResource, std::move(doc), std::move(frame), std::move(view)) {}

  CDocument* OpenDocumentFile(const char* path, BOOL bMakeVisible = TRUE) override;
  // "<docName><n>" with n counting new documents from 1 ("Cadel1", "Cadel2", ...).
  void SetDefaultTitle(CDocument* doc) override;

  UINT m_nUntitledCount = 0;
};
