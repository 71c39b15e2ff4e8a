#pragma once
// CDocument: the data behind one or more views. Created by its document template; closes (and
// releases itself) when its last view goes away. Handles File Close, Save and Save As.
#include <string>
#include <vector>

#include "agent/framework/cmd_target.h"

class CArchive;
class CDocTemplate;
class CFrameWnd;
class CView;

class CDocument : public CCmdTarget {
 public:
  CDocument();
  ~CDocument() override;

  const std::string& GetTitle() const { return m_strTitle; }
  // Sets the title and updates the captions of the document's frames.
  virtual void SetTitle(const char* title);
  const std::string& GetPathName() const { return m_strPathName; }
  // Sets the file path (and the title from its file name); adds it to the recent-file list.
  virtual void SetPathName(const char* path, BOOL bAddToMRU = TRUE);
  CDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }
  BOOL IsModified() const { return m_bModified; }
  void SetModifiedFlag(BOOL bModified = TRUE) { m_bModified = bModified; }

  // Views, in the order they were added.
  void AddView(CView* view);
  void RemoveView(CView* view);
  const std::vector<CView*>& GetViews() const { return views_; }
  // Calls OnUpdate(pSender, lHint, pHint) of every view of this document except pSender.
  void UpdateAllViews(CView* pSender, LPARAM lHint = 0, CObject* pHint = nullptr);
  // After a view was added or removed: renumbers the frames; with no view left, closes the
  // document (when m_bAutoDelete).
  virtual void OnChangedViewList();
  // Numbers the frames of this document (":1", ":2" when there are several) and updates titles.
  void UpdateFrameCounts();

  // Life cycle.
  virtual BOOL OnNewDocument();                  // DeleteContents, not modified, no path
  virtual BOOL OnOpenDocument(const char* path); // Serialize from the file; message on failure
  virtual BOOL OnSaveDocument(const char* path); // Serialize into the file; message on failure
  // Destroys the document's frames and releases the framework's reference (deleting the document
  // unless automation clients still hold it).
  virtual void OnCloseDocument();
  virtual void DeleteContents();
  virtual void Serialize(CArchive& ar);
  // Asks whether to save a modified document; FALSE when the user cancels.
  virtual BOOL SaveModified();
  // Save (path known) or Save As (bReplace with a file dialog); FALSE when not saved.
  virtual BOOL DoSave(const char* path, BOOL bReplace = TRUE);
  virtual BOOL CanCloseFrame(CFrameWnd* frame);
  virtual void PreCloseFrame(CFrameWnd* frame) { (void)frame; }

  // File menu commands (in this class's command map).
  void OnFileClose();
  void OnFileSave();
  void OnFileSaveAs();

  // Routes to this document's map, then to its template's.
  BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) override;
  // At the last COM release: closes the document if the framework closed it already or no view
  // shows it; then deletes it.
  void OnFinalRelease() override;
  // Gives up the reference the framework holds from creation (once): the document then lives
  // as long as COM clients hold it. The class factory hands it to the client this way.
  void ReleaseFrameworkReference();

  BOOL m_bAutoDelete = TRUE;  // delete when the last view closes
  BOOL m_bEmbedded = FALSE;
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
