#include "tests/shell/inprocess_shell.h"

#include "agent/calls/reminder_call.h"
#include "agent/framework/ole/ole.h"
#include "agent/res/resource.h"
#include "agent/shell/cadelo_app.h"
#include "agent/shell/cadelo_doc.h"
#include "agent/shell/child_frame.h"
#include "agent/shell/main_frame.h"

namespace shelltest {

namespace {

// The application object of the test process (never started: the tests build what they need).
CCadeloApp theTestApp;

void AddTemplateOnce() {
  static bool added = false;
  if (added) return;
  added = true;
  AfxOleInit();
  theTestApp.AddDocTemplate(new CMultiDocTemplate(IDR_CADELTYPE, RUNTIME_CLASS(CCadeloDoc),
                                                  RUNTIME_CLASS(CChildFrame), RUNTIME_CLASS(CCadeloView)));
}

}  // namespace

void InProcessShell::SetUp() {
  AddTemplateOnce();
  fw::SetDrawTextObserver([this](HDC dc, const char* text, int count, const RECT& rect, UINT format) {
    drawn_.push_back({WindowFromDC(dc), std::string(text, count > 0 ? static_cast<size_t>(count) : 0), count,
                      rect, format});
  });
  frame_ = new CMainFrame;
  ASSERT_TRUE(frame_->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE));
  theTestApp.SetMainWnd(frame_);
  CMainFrame::ReminderPath path;
  path.handOver = &reminders_;
  path.called = &called_;
  path.clock = CurrentLocalOleDate;
  path.tell = [this](const Outcome& outcome) { told_.push_back(outcome.Message()); };
  frame_->SetReminderPath(std::move(path));
  reminders_.SetTarget(frame_->m_hWnd);
  frame_->ShowWindow(SW_SHOW);
  theTestApp.OnFileNew();
  Pump();
}

void InProcessShell::TearDown() {
  fw::SetDrawTextObserver(nullptr);
  theTestApp.CloseAllDocuments();
  if (frame_) frame_->DestroyWindow();  // deletes the frame
  theTestApp.SetMainWnd(nullptr);
  reminders_.SetTarget(nullptr);
  // The main frame's end asks the message loop to quit; the next test must not inherit that.
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

void InProcessShell::Pump() { fw::PumpWaitingMessages(); }

std::vector<HWND> InProcessShell::ActiveDocumentViews() const {
  std::vector<HWND> views;
  if (CDocument* document = frame_->GetActiveDocument()) {
    for (CView* view : document->GetViews()) views.push_back(view->m_hWnd);
  }
  return views;
}

std::vector<HWND> InProcessShell::AllViews() const {
  std::vector<HWND> views;
  if (CDocTemplate* t = theTestApp.GetDocTemplate()) {
    for (CDocument* document : t->GetDocuments()) {
      for (CView* view : document->GetViews()) views.push_back(view->m_hWnd);
    }
  }
  return views;
}

void InProcessShell::Repaint(HWND view) {
  InvalidateRect(view, nullptr, TRUE);
  UpdateWindow(view);
}

}  // namespace shelltest
