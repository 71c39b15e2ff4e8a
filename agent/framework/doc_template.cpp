#include "agent/framework/doc_template.h"

#include <algorithm>

#include "agent/framework/afx_ids.h"
#include "agent/framework/document.h"
#include "agent/framework/frame_wnd.h"
#include "agent/framework/message_box.h"
#include "agent/framework/view.h"
#include "agent/framework/win_app.h"

CDocTemplate::CDocTemplate(UINT nIDResource, DocumentFactory doc, FrameFactory frame, ViewFactory view)
    : m_nIDResource(nIDResource),
      m_pDocClass(std::move(doc)),
      m_pFrameClass(std::move(frame)),
      m_pViewClass(std::move(view)) {}

CDocTemplate::~CDocTemplate() {
  // Documents still open (only at an abnormal end) must not call back into a dead template.
  for (CDocument* doc : documents_) doc->m_pDocTemplate = nullptr;
  if (m_hMenuShared) ::DestroyMenu(m_hMenuShared);
}

void CDocTemplate::LoadTemplate() {
  HINSTANCE instance = AfxGetResourceHandle();
  if (m_strDocStrings.empty()) m_strDocStrings = fw::LoadStringResource(m_nIDResource);
  if (!m_hMenuShared) m_hMenuShared = ::LoadMenuA(instance, MAKEINTRESOURCEA(m_nIDResource));
  if (!m_hAccelTable) m_hAccelTable = ::LoadAcceleratorsA(instance, MAKEINTRESOURCEA(m_nIDResource));
}

BOOL CDocTemplate::GetDocString(std::string& out, DocStringIndex index) const {
  out.clear();
  size_t start = 0;
  for (int field = 0; field < index; ++field) {
    start = m_strDocStrings.find('\n', start);
    if (start == std::string::npos) return FALSE;
    ++start;
  }
  const size_t end = m_strDocStrings.find('\n', start);
  out = m_strDocStrings.substr(start, end == std::string::npos ? std::string::npos : end - start);
  return TRUE;
}

CDocument* CDocTemplate::CreateNewDocument() {
  CDocument* doc = m_pDocClass ? m_pDocClass() : nullptr;
  if (doc) AddDocument(doc);
  return doc;
}

CFrameWnd* CDocTemplate::CreateNewFrame(CDocument* doc, CFrameWnd* other) {
  CCreateContext context;
  context.m_pCurrentFrame = other;
  context.m_pCurrentDoc = doc;
  context.m_pNewViewClass = m_pViewClass;
  context.m_pNewDocTemplate = this;
  CFrameWnd* frame = m_pFrameClass ? m_pFrameClass() : nullptr;
  if (!frame) return nullptr;
  // A frame that fails to load has deleted itself.
  if (!frame->LoadFrame(m_nIDResource, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE, nullptr, &context)) return nullptr;
  return frame;
}

void CDocTemplate::InitialUpdateFrame(CFrameWnd* frame, CDocument* doc, BOOL bMakeVisible) {
  frame->InitialUpdateFrame(doc, bMakeVisible);
}

void CDocTemplate::AddDocument(CDocument* doc) {
  if (std::find(documents_.begin(), documents_.end(), doc) != documents_.end()) return;
  documents_.push_back(doc);
  doc->m_pDocTemplate = this;
}

void CDocTemplate::RemoveDocument(CDocument* doc) {
  documents_.erase(std::remove(documents_.begin(), documents_.end(), doc), documents_.end());
}

void CDocTemplate::CloseAllDocuments(BOOL) {
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

CDocument* CMultiDocTemplate::OpenDocumentFile(const char* path, BOOL bMakeVisible) {
  CDocument* doc = CreateNewDocument();
  if (!doc) {
    AfxMessageBox(fw::LoadStringResource(AFX_IDP_FAILED_TO_CREATE_DOC, "Failed to create empty document."));
    return nullptr;
  }
  // The document must outlive a frame that fails half-way.
  const BOOL autoDelete = doc->m_bAutoDelete;
  doc->m_bAutoDelete = FALSE;
  CFrameWnd* frame = CreateNewFrame(doc, nullptr);
  doc->m_bAutoDelete = autoDelete;
  if (!frame) {
    AfxMessageBox(fw::LoadStringResource(AFX_IDP_FAILED_TO_CREATE_DOC, "Failed to create empty document."));
    doc->OnCloseDocument();  // no view: releases (deletes) it
    return nullptr;
  }
  if (!path) {
    SetDefaultTitle(doc);
    if (!bMakeVisible) doc->m_bEmbedded = TRUE;
    if (!doc->OnNewDocument()) {
      frame->DestroyWindow();  // its view goes, and with the last view the document
      return nullptr;
    }
    ++m_nUntitledCount;
  } else {
    if (!doc->OnOpenDocument(path)) {
      frame->DestroyWindow();
      return nullptr;
    }
    doc->SetPathName(path);
  }
  InitialUpdateFrame(frame, doc, bMakeVisible);
  return doc;
}

void CMultiDocTemplate::SetDefaultTitle(CDocument* doc) {
  std::string title;
  if (!GetDocString(title, docName) || title.empty()) {
    title = fw::LoadStringResource(AFX_IDS_UNTITLED, "Untitled");
  }
  title += std::to_string(m_nUntitledCount + 1);
  doc->SetTitle(title.c_str());
}
