#include "agent/framework/document.h"

#include <algorithm>

#include "agent/framework/afx_ids.h"
#include "agent/framework/archive.h"
#include "agent/framework/doc_template.h"
#include "agent/framework/frame_wnd.h"
#include "common/win/handles.h"
#include "agent/framework/message_box.h"
#include "agent/framework/view.h"
#include "agent/framework/win_app.h"

namespace {

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The system's text for a file error, e.g. "The system cannot find the file specified."
std::string SystemErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length && text ? std::string(text, length) : std::string();
  if (text) ::LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) result.pop_back();
  return result;
}

}  // namespace

CDocument::CDocument() = default;

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

BOOL CDocument::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) {
  if (CCmdTarget::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo)) return TRUE;
  return m_pDocTemplate && m_pDocTemplate->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

void CDocument::SetTitle(const char* title) {
  m_strTitle = title ? title : "";
  UpdateFrameCounts();
}

void CDocument::SetPathName(const char* path, BOOL bAddToMRU) {
  char full[MAX_PATH * 2] = {};
  m_strPathName = path ? path : "";
  if (path && ::GetFullPathNameA(path, sizeof full, full, nullptr) > 0) m_strPathName = full;
  SetTitle(FileNameOf(m_strPathName).c_str());
  if (bAddToMRU) {
    if (CWinApp* app = AfxGetApp()) app->AddToRecentFileList(m_strPathName.c_str());
  }
}

void CDocument::AddView(CView* view) {
  if (!view || std::find(views_.begin(), views_.end(), view) != views_.end()) return;
  views_.push_back(view);
  view->m_pDocument = this;
  OnChangedViewList();
}

void CDocument::RemoveView(CView* view) {
  auto it = std::find(views_.begin(), views_.end(), view);
  if (it == views_.end()) return;
  views_.erase(it);
  view->m_pDocument = nullptr;
  OnChangedViewList();
}

void CDocument::OnChangedViewList() {
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

BOOL CDocument::OnNewDocument() {
  DeleteContents();
  m_strPathName.clear();
  SetModifiedFlag(FALSE);
  return TRUE;
}

BOOL CDocument::OnOpenDocument(const char* path) {
  win::FileHandle file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    std::string text = fw::LoadStringResource(AFX_IDP_FAILED_TO_OPEN_DOC, "Failed to open document.");
    const std::string reason = SystemErrorText(error);
    if (!reason.empty()) text += "\r\n" + std::string(path) + ": " + reason;
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }
  DeleteContents();
  SetModifiedFlag(TRUE);  // modified while loading
  CArchive archive(file.get(), CArchive::load, path);
  Serialize(archive);
  if (archive.failed()) {
    DeleteContents();
    AfxMessageBox(fw::LoadStringResource(AFX_IDP_FAILED_TO_OPEN_DOC, "Failed to open document."),
                  MB_OK | MB_ICONEXCLAMATION);
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
    if (file) {
      CArchive archive(file.get(), CArchive::store, path);
      Serialize(archive);
      ok = !archive.failed() && ::FlushFileBuffers(file.get());
    }
    if (!ok) error = ::GetLastError();
  }
  if (ok) {
    ok = ::MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) error = ::GetLastError();
  }
  if (!ok) {
    ::DeleteFileA(temp.c_str());
    std::string text = fw::LoadStringResource(AFX_IDP_FAILED_TO_SAVE_DOC, "Failed to save document.");
    const std::string reason = SystemErrorText(error);
    if (!reason.empty()) text += "\r\n" + std::string(path) + ": " + reason;
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }
  SetModifiedFlag(FALSE);
  return TRUE;
}

void CDocument::OnCloseDocument() {
  if (closing_) return;
  closing_ = true;
  // Destroying the frames removes the views; the document must survive that.
  const BOOL autoDelete = m_bAutoDelete;
  m_bAutoDelete = FALSE;
  while (!views_.empty()) {
    CView* view = views_.front();
    CFrameWnd* frame = view->GetParentFrame();
    if (frame) {
      PreCloseFrame(frame);
      frame->DestroyWindow();
    } else {
      view->DestroyWindow();
    }
    if (!views_.empty() && views_.front() == view) RemoveView(view);  // a window that would not go
  }
  m_bAutoDelete = autoDelete;
  DeleteContents();
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

void CDocument::DeleteContents() {}

void CDocument::Serialize(CArchive&) {}

BOOL CDocument::SaveModified() {
  if (!IsModified()) return TRUE;
  std::string name = m_strPathName.empty() ? m_strTitle : FileNameOf(m_strPathName);
  std::string prompt = fw::LoadStringResource(AFX_IDP_ASK_TO_SAVE, "Save changes to %1?");
  const size_t mark = prompt.find("%1");
  if (mark != std::string::npos) prompt.replace(mark, 2, name);
  switch (AfxMessageBox(prompt, MB_YESNOCANCEL | MB_ICONEXCLAMATION)) {
    case IDCANCEL:
      return FALSE;
    case IDYES:
      return DoSave(m_strPathName.empty() ? nullptr : m_strPathName.c_str());
    default:
      return TRUE;
  }
}

BOOL CDocument::DoSave(const char* path, BOOL bReplace) {
  std::string name = path ? path : "";
  if (name.empty()) {
    name = m_strPathName.empty() ? m_strTitle : m_strPathName;
    // A new document's title gets the type's extension in the dialog.
    std::string ext;
    if (m_pDocTemplate && m_pDocTemplate->GetDocString(ext, CDocTemplate::filterExt) && !ext.empty() &&
        m_strPathName.empty()) {
      name += ext;
    }
    CWinApp* app = AfxGetApp();
    if (!app || !app->DoPromptFileName(name, FALSE, m_pDocTemplate)) return FALSE;
  }
  if (!OnSaveDocument(name.c_str())) return FALSE;
  if (bReplace) SetPathName(name.c_str());
  return TRUE;
}

BOOL CDocument::CanCloseFrame(CFrameWnd* frame) {
  for (CView* view : views_) {
    if (view->GetParentFrame() != frame) return TRUE;  // another window stays open
  }
  return SaveModified();
}

void CDocument::OnFileClose() {
  if (!SaveModified()) return;
  OnCloseDocument();
}

void CDocument::OnFileSave() { DoSave(m_strPathName.empty() ? nullptr : m_strPathName.c_str()); }

void CDocument::OnFileSaveAs() { DoSave(nullptr); }
