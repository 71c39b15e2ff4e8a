#include "agent/framework/ui/document.h"

#include <algorithm>

#include "agent/framework/ui/afx_ids.h"
#include "agent/framework/ui/mdi_wnd.h"
#include "agent/framework/ui/print.h"
#include "agent/framework/ui/recent_file_list.h"
#include "agent/framework/ui/win_app.h"
#include "common/win/handles.h"

namespace {

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The framework's message for a failed file operation, then the file and the system's reason
// (e.g. "The system cannot find the file specified.") when it has one.
void TellFileFailure(UINT id, const char* fallback, const char* path, DWORD error) {
  std::string text = fw::LoadStringResource(id, fallback);
  std::string reason = fw::SystemMessage(error);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) reason.pop_back();
  if (!reason.empty()) text += "\r\n" + std::string(path) + ": " + reason;
  AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

CDocument::~CDocument() {
  // Views still pointing here (only after an abnormal end) must not call back.
  for (CView* view : views_) view->m_pDocument = nullptr;
  if (m_pDocTemplate) m_pDocTemplate->RemoveDocument(this);
}

const fw::CommandMap* CDocument::GetCommandMap() const {
  static const fw::CommandMap map(CCmdTarget::GetCommandMap(),
                                  {
                                      fw::OnCommand(ID_FILE_CLOSE, &CDocument::OnFileClose),
                                      fw::OnCommand(ID_FILE_SAVE, &CDocument::OnFileSave),
                                      fw::OnCommand(ID_FILE_SAVE_AS, &CDocument::OnFileSaveAs),
                                  });
  return &map;
}

BOOL CDocument::OnCmdMsg(UINT nID, int nCode, void* pExtra) {
  if (CCmdTarget::OnCmdMsg(nID, nCode, pExtra)) return TRUE;
  return m_pDocTemplate && m_pDocTemplate->OnCmdMsg(nID, nCode, pExtra);
}

void CDocument::SetTitle(const char* title) {
  m_strTitle = title ? title : "";
  UpdateFrameCounts();
}

void CDocument::SetPathName(const char* path) {
  m_strPathName = path ? fw::FullPath(path) : "";
  SetTitle(FileNameOf(m_strPathName).c_str());
  CWinApp* app = AfxGetApp();
  if (app && app->m_pRecentFileList && !m_strPathName.empty()) app->m_pRecentFileList->Add(m_strPathName.c_str());
}

void CDocument::AddView(CView* view) {
  if (!view || std::find(views_.begin(), views_.end(), view) != views_.end()) return;
  views_.push_back(view);
  view->m_pDocument = this;
  UpdateFrameCounts();
}

void CDocument::RemoveView(CView* view) {
  auto it = std::find(views_.begin(), views_.end(), view);
  if (it == views_.end()) return;
  views_.erase(it);
  view->m_pDocument = nullptr;
  // The last view gone closes the document.
  if (views_.empty() && m_bAutoDelete) {
    OnCloseDocument();
    return;
  }
  UpdateFrameCounts();
}

void CDocument::UpdateAllViews(CView* pSender, LPARAM lHint, CObject* pHint) {
  // A copy: an update may close a view.
  const std::vector<CView*> views = views_;
  for (CView* view : views) {
    if (view != pSender && std::find(views_.begin(), views_.end(), view) != views_.end()) {
      view->OnUpdate(pSender, lHint, pHint);
    }
  }
}

void CDocument::UpdateFrameCounts() {
  // Number the distinct frames showing this document, in view order.
  std::vector<CFrameWnd*> frames;
  for (CView* view : views_) {
    if (!view->m_hWnd || !(::GetWindowLongPtrA(view->m_hWnd, GWL_STYLE) & WS_VISIBLE)) continue;
    CFrameWnd* frame = view->GetParentFrame();
    if (frame && std::find(frames.begin(), frames.end(), frame) == frames.end()) frames.push_back(frame);
  }
  const bool several = frames.size() > 1;
  int number = 0;
  for (CFrameWnd* frame : frames) {
    frame->m_nWindow = several ? ++number : 0;
    frame->OnUpdateFrameTitle(TRUE);
  }
}

BOOL CDocument::OnOpenDocument(const char* path) {
  win::FileHandle file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    TellFileFailure(AFX_IDP_FAILED_TO_OPEN_DOC, "Failed to open document.", path, ::GetLastError());
    return FALSE;
  }
  SetModifiedFlag(FALSE);
  return TRUE;
}

BOOL CDocument::OnSaveDocument(const char* path) {
  // Written beside the target first, so a failed save leaves the old file intact.
  const std::string temp = std::string(path) + ".~sav";
  bool ok = false;
  DWORD error = 0;
  {
    win::FileHandle file(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ok = file && ::FlushFileBuffers(file.get());
    if (!ok) error = ::GetLastError();
  }
  if (ok) {
    ok = ::MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) error = ::GetLastError();
  }
  if (!ok) {
    ::DeleteFileA(temp.c_str());
    TellFileFailure(AFX_IDP_FAILED_TO_SAVE_DOC, "Failed to save document.", path, error);
    return FALSE;
  }
  SetModifiedFlag(FALSE);
  return TRUE;
}

void CDocument::OnCloseDocument() {
  if (closing_) return;
  // Destroying the frames removes the views; the last view's RemoveView finds the document
  // closing already, which it must survive.
  closing_ = true;
  while (!views_.empty()) {
    CView* view = views_.front();
    CFrameWnd* frame = view->GetParentFrame();
    if (frame) {
      frame->DestroyWindow();
    } else {
      view->DestroyWindow();
    }
    if (!views_.empty() && views_.front() == view) RemoveView(view);  // a window that would not go
  }
  closed_ = true;
  if (m_pDocTemplate) m_pDocTemplate->RemoveDocument(this);
  if (m_bAutoDelete) ReleaseFrameworkReference();  // deletes this unless clients hold it
}

void CDocument::ReleaseFrameworkReference() {
  if (!frameworkReference_) return;
  frameworkReference_ = false;
  InternalRelease();
}

void CDocument::OnFinalRelease() {
  if (!closed_) {
    frameworkReference_ = false;
    OnCloseDocument();
  }
  delete this;
}

BOOL CDocument::SaveModified() {
  if (!IsModified()) return TRUE;
  std::string name = m_strPathName.empty() ? m_strTitle : FileNameOf(m_strPathName);
  switch (AfxMessageBox(fw::Prompt(AFX_IDP_ASK_TO_SAVE, "Save changes to %1?", {name}),
                        MB_YESNOCANCEL | MB_ICONEXCLAMATION)) {
    case IDCANCEL:
      return FALSE;
    case IDYES:
      return DoSave(m_strPathName.empty() ? nullptr : m_strPathName.c_str());
    default:
      return TRUE;
  }
}

BOOL CDocument::DoSave(const char* path) {
  std::string name = path ? path : "";
  if (name.empty()) {
    name = m_strPathName;
    // A new document's title gets the type's extension in the dialog.
    if (name.empty()) name = m_strTitle + (m_pDocTemplate ? m_pDocTemplate->GetDocString(CDocTemplate::filterExt) : "");
    CWinApp* app = AfxGetApp();
    if (!app || !app->DoPromptFileName(name, FALSE)) return FALSE;
  }
  if (!OnSaveDocument(name.c_str())) return FALSE;
  SetPathName(name.c_str());
  return TRUE;
}

void CDocument::OnFileClose() {
  if (!SaveModified()) return;
  OnCloseDocument();
}

void CDocument::OnFileSave() { DoSave(m_strPathName.empty() ? nullptr : m_strPathName.c_str()); }

void CDocument::OnFileSaveAs() { DoSave(nullptr); }

CDocTemplate::CDocTemplate(UINT nIDResource, DocumentFactory doc, FrameFactory frame, ViewFactory view)
    : m_nIDResource(nIDResource),
      m_pDocClass(std::move(doc)),
      m_pFrameClass(std::move(frame)),
      m_pViewClass(std::move(view)) {
  HINSTANCE instance = AfxGetInstanceHandle();
  m_strDocStrings = fw::LoadStringResource(m_nIDResource);
  m_hMenuShared = ::LoadMenuA(instance, MAKEINTRESOURCEA(m_nIDResource));
  m_hAccelTable = ::LoadAcceleratorsA(instance, MAKEINTRESOURCEA(m_nIDResource));
}

CDocTemplate::~CDocTemplate() {
  // Documents still open (only at an abnormal end) must not call back into a dead template.
  for (CDocument* doc : documents_) doc->m_pDocTemplate = nullptr;
  if (m_hMenuShared) ::DestroyMenu(m_hMenuShared);
}

std::string CDocTemplate::GetDocString(DocStringIndex index) const {
  size_t start = 0;
  for (int field = 0; field < index; ++field) {
    start = m_strDocStrings.find('\n', start);
    if (start == std::string::npos) return {};
    ++start;
  }
  return m_strDocStrings.substr(start, m_strDocStrings.find('\n', start) - start);  // npos: to the end
}

CMDIChildWnd* CDocTemplate::CreateNewFrame(CDocument* doc) {
  CCreateContext context;
  context.m_pCurrentDoc = doc;
  context.m_pNewViewClass = m_pViewClass;
  context.m_pNewDocTemplate = this;
  CMDIChildWnd* frame = m_pFrameClass();
  // A frame that fails to load has deleted itself.
  if (!frame->LoadFrame(m_nIDResource, &context)) return nullptr;
  return frame;
}

void CDocTemplate::RemoveDocument(CDocument* doc) {
  documents_.erase(std::remove(documents_.begin(), documents_.end(), doc), documents_.end());
}

void CDocTemplate::CloseAllDocuments() {
  // Each close removes the document from the list.
  while (!documents_.empty()) {
    CDocument* doc = documents_.front();
    doc->OnCloseDocument();
    if (!documents_.empty() && documents_.front() == doc) RemoveDocument(doc);
  }
}

BOOL CDocTemplate::SaveAllModified() {
  const std::vector<CDocument*> docs = documents_;
  for (CDocument* doc : docs) {
    if (!doc->SaveModified()) return FALSE;
  }
  return TRUE;
}

CDocument* CDocTemplate::OpenDocumentFile(const char* path, BOOL bMakeVisible) {
  CDocument* doc = m_pDocClass();
  documents_.push_back(doc);
  doc->m_pDocTemplate = this;
  // The document must outlive a frame that fails half-way.
  const BOOL autoDelete = doc->m_bAutoDelete;
  doc->m_bAutoDelete = FALSE;
  CMDIChildWnd* frame = CreateNewFrame(doc);
  doc->m_bAutoDelete = autoDelete;
  if (!frame) {
    AfxMessageBox(fw::LoadStringResource(AFX_IDP_FAILED_TO_CREATE_DOC, "Failed to create empty document."));
    doc->OnCloseDocument();  // no view: releases (deletes) it
    return nullptr;
  }
  if (!path) {
    std::string title = GetDocString(docName);
    if (title.empty()) title = fw::LoadStringResource(AFX_IDS_UNTITLED, "Untitled");
    doc->SetTitle((title + std::to_string(++untitledCount_)).c_str());
  } else {
    if (!doc->OnOpenDocument(path)) {
      frame->DestroyWindow();
      return nullptr;
    }
    doc->SetPathName(path);
  }
  frame->InitialUpdateFrame(doc, bMakeVisible);
  return doc;
}

CView::~CView() {
  if (m_pDocument) m_pDocument->RemoveView(this);
}

BOOL CView::PreCreateWindow(CREATESTRUCTA& cs) {
  cs.style |= WS_CLIPSIBLINGS;
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
    OnDraw(&dc);
  }
  ::EndPaint(m_hWnd, &ps);
}

void CView::OnUpdate(CView*, LPARAM, CObject*) { ::InvalidateRect(m_hWnd, nullptr, TRUE); }

void CView::OnActivateView() {
  if (!m_hWnd) return;
  // Take the focus when our top-level window is the active one.
  if (::GetActiveWindow() == ::GetAncestor(m_hWnd, GA_ROOT)) ::SetFocus(m_hWnd);
}

BOOL CView::OnCmdMsg(UINT nID, int nCode, void* pExtra) {
  if (CWnd::OnCmdMsg(nID, nCode, pExtra)) return TRUE;
  return m_pDocument && m_pDocument->OnCmdMsg(nID, nCode, pExtra);
}

BOOL CView::OnPreparePrinting(CPrintInfo* pInfo) { return DoPreparePrinting(pInfo); }

void CView::OnBeginPrinting(CDC*, CPrintInfo*) {}

void CView::OnEndPrinting(CDC*, CPrintInfo*) {}
