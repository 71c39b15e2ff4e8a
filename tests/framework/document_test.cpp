// Documents, their windows and titles, menu switching, UpdateAllViews, saving and drawing.
#include <algorithm>
#include <atomic>
#include <thread>
#include <fstream>
#include <iterator>
#include <set>

#include "tests/framework/test_app.h"
#include "tests/harness/message_box_watcher.h"
#include "tests/harness/paths.h"
#include "tests/harness/patience.h"

namespace {

int g_previewTicks = 0;

void CALLBACK ClosePreviewWhenDrawn(HWND, UINT, UINT_PTR id, DWORD) {
  HWND preview = ::FindWindowA("FwPrintPreview", nullptr);
  if (!preview) return;
  const bool drawn = std::find(Events().begin(), Events().end(), "draw:printing") != Events().end();
  if (!drawn && ++g_previewTicks < 250) {
    ::InvalidateRect(preview, nullptr, TRUE);
    return;
  }
  ::KillTimer(nullptr, id);
  ::PostMessageA(preview, WM_COMMAND, AFX_ID_PREVIEW_CLOSE, 0);
}

class DocumentTest : public FrameworkTest {
 protected:
  static std::string Caption(CWnd* wnd) { return fw::WindowText(wnd->m_hWnd); }
  static CFrameWnd* FrameOf(CView* view) { return view->GetParentFrame(); }
};

TEST_F(DocumentTest, NewDocumentsAreNumberedAndTitleTheirWindows) {
  TestDoc* first = NewDocument();
  TestDoc* second = NewDocument();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->GetTitle(), "Cadel1");
  EXPECT_EQ(second->GetTitle(), "Cadel2");
  EXPECT_EQ(Caption(FrameOf(first->GetViews().front())), "Cadel1");
  EXPECT_EQ(Caption(FrameOf(second->GetViews().front())), "Cadel2");
  EXPECT_EQ(Caption(frame), "Brisomel - Cadel2");  // the active document
  EXPECT_EQ(frame->GetActiveDocument(), second);
  EXPECT_EQ(AfxOleGetLockCount(), 2);  // one lock per live document
}

TEST_F(DocumentTest, NewWindowShowsTheActiveDocumentAgainAndNumbersTheWindows) {
  TestDoc* doc = NewDocument();
  ASSERT_NE(doc, nullptr);
  Command(ID_WINDOW_NEW);
  ASSERT_EQ(doc->GetViews().size(), 2u);
  CFrameWnd* one = FrameOf(doc->GetViews()[0]);
  CFrameWnd* two = FrameOf(doc->GetViews()[1]);
  ASSERT_NE(one, two);
  EXPECT_EQ(Caption(one), "Cadel1:1");
  EXPECT_EQ(Caption(two), "Cadel1:2");
  EXPECT_EQ(frame->MDIGetActive(), two);
  EXPECT_EQ(Template()->GetDocuments().size(), 1u);

  // Closing one window leaves the document with the other, titled plainly again.
  two->SendMessage(WM_CLOSE);
  Pump();
  ASSERT_EQ(doc->GetViews().size(), 1u);
  EXPECT_EQ(Caption(one), "Cadel1");
  EXPECT_EQ(TestDoc::live, 1);

  // Closing the last window closes the document.
  one->SendMessage(WM_CLOSE);
  Pump();
  EXPECT_EQ(TestDoc::live, 0);
  EXPECT_TRUE(Template()->GetDocuments().empty());
  EXPECT_EQ(AfxOleGetLockCount(), 0);
}

TEST_F(DocumentTest, UpdateAllViewsReachesEveryOtherViewOfThatDocumentOnly) {
  TestDoc* doc = NewDocument();
  ASSERT_NE(doc, nullptr);
  Command(ID_WINDOW_NEW);
  Command(ID_WINDOW_NEW);
  TestDoc* other = NewDocument();
  ASSERT_NE(other, nullptr);
  auto views = ViewsOf(doc);
  ASSERT_EQ(views.size(), 3u);
  const int otherBefore = ViewsOf(other)[0]->updates;
  std::vector<int> before;
  for (TestView* v : views) before.push_back(v->updates);

  doc->UpdateAllViews(nullptr, 0, nullptr);
  for (size_t i = 0; i < views.size(); ++i) EXPECT_EQ(views[i]->updates, before[i] + 1) << i;
  EXPECT_EQ(ViewsOf(other)[0]->updates, otherBefore);

  doc->UpdateAllViews(views[1], 7, nullptr);
  EXPECT_EQ(views[0]->updates, before[0] + 2);
  EXPECT_EQ(views[1]->updates, before[1] + 1);  // the sender is left out
  EXPECT_EQ(views[2]->updates, before[2] + 2);
  EXPECT_EQ(views[2]->lastSender, views[1]);
}

TEST_F(DocumentTest, MenuBarFollowsTheActiveDocument) {
  HMENU frameMenu = frame->m_hMenuDefault;
  HMENU documentMenu = Template()->m_hMenuShared;
  ASSERT_TRUE(frameMenu && documentMenu);
  EXPECT_EQ(::GetMenu(frame->m_hWnd), frameMenu);
  TestDoc* doc = NewDocument();
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(::GetMenu(frame->m_hWnd), documentMenu);
  Command(ID_FILE_CLOSE);
  EXPECT_EQ(TestDoc::live, 0);
  EXPECT_EQ(::GetMenu(frame->m_hWnd), frameMenu);
  EXPECT_EQ(Caption(frame), "Brisomel");
}

TEST_F(DocumentTest, SaveReplacesTheFileWithAnEmptyOne) {
  harness::TempDir dir;
  const std::string path = dir.File("settings.cad");
  { std::ofstream(path) << "old content"; }
  TestDoc* doc = dynamic_cast<TestDoc*>(app.OpenDocumentFile(path.c_str()));
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->GetTitle(), "settings.cad");
  Command(ID_FILE_SAVE);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "");
  EXPECT_FALSE(doc->IsModified());
}

TEST_F(DocumentTest, FailedSaveReportsAndKeepsTheDocument) {
  harness::MessageBoxWatcher boxes("Brisomel");
  TestDoc* doc = NewDocument();
  ASSERT_NE(doc, nullptr);
  EXPECT_FALSE(doc->DoSave("Z:\\no\\such\\folder\\x.cad"));
  ASSERT_TRUE(boxes.WaitForCount(1, harness::kPatientMs));
  EXPECT_EQ(boxes.Seen()[0].text.rfind("Failed to save document.", 0), 0u) << boxes.Seen()[0].text;
  EXPECT_EQ(doc->GetTitle(), "Cadel1");
  EXPECT_TRUE(doc->GetPathName().empty());
}

TEST_F(DocumentTest, OpeningAMissingFileShowsTheFrameworkMessageAndLeavesNoDocument) {
  harness::MessageBoxWatcher boxes("Brisomel");
  CCommandLineInfo info;
  CWinApp::ParseArguments(info, {"Z:\\no\\such\\file.cad"});
  EXPECT_EQ(info.m_nShellCommand, CCommandLineInfo::FileOpen);
  EXPECT_FALSE(app.ProcessShellCommand(info));
  ASSERT_TRUE(boxes.WaitForCount(1, harness::kPatientMs));
  EXPECT_EQ(boxes.Seen()[0].text.rfind("Failed to open document.", 0), 0u) << boxes.Seen()[0].text;
  Pump();
  EXPECT_EQ(TestDoc::live, 0);
  EXPECT_TRUE(Template()->GetDocuments().empty());
}

TEST_F(DocumentTest, ProcessShellCommandFileNewCreatesTheFirstDocument) {
  CCommandLineInfo info;
  CWinApp::ParseArguments(info, {});
  EXPECT_TRUE(app.ProcessShellCommand(info));
  ASSERT_EQ(Template()->GetDocuments().size(), 1u);
  EXPECT_EQ(Template()->GetDocuments()[0]->GetTitle(), "Cadel1");
}

TEST_F(DocumentTest, PaintingDrawsTheViewsTextThroughTheObservedDrawText) {
  struct Call {
    std::string text;
    RECT rect;
    UINT format;
  };
  std::vector<Call> calls;
  fw::SetDrawTextObserver([&](HDC, const char* text, int count, const RECT& rect, UINT format) {
    calls.push_back({std::string(text, static_cast<size_t>(count)), rect, format});
  });
  TestDoc* doc = NewDocument();
  ASSERT_NE(doc, nullptr);
  CView* view = doc->GetViews().front();
  ::InvalidateRect(view->m_hWnd, nullptr, TRUE);
  ::UpdateWindow(view->m_hWnd);
  fw::SetDrawTextObserver(nullptr);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().text, "Line one\r\nLine two");
  EXPECT_EQ(calls.back().rect.right, 800);
  EXPECT_EQ(calls.back().rect.bottom, 800);
  EXPECT_EQ(calls.back().format, 0u);
}

TEST_F(DocumentTest, PrintPreviewDrawsThePageAndCloses) {
  TestDoc* doc = NewDocument();
  ASSERT_NE(doc, nullptr);
  // Close the preview once it has drawn (or after 5 s), from its own message loop.
  g_previewTicks = 0;
  ::SetTimer(nullptr, 0, 20, ClosePreviewWhenDrawn);
  Command(ID_FILE_PRINT_PREVIEW);
  EXPECT_EQ(::FindWindowA("FwPrintPreview", nullptr), nullptr);
  ASSERT_GE(Events().size(), 4u);
  EXPECT_EQ(Events()[0], "prepare-printing");
  EXPECT_EQ(Events()[1], "begin-printing");
  EXPECT_EQ(Events()[2], "draw:printing");
  EXPECT_EQ(Events().back(), "end-printing");
  EXPECT_TRUE(frame->IsWindowEnabled());
}

}  // namespace

namespace {

// Closes every dialog box of this process that shows up (the print dialogs), recording captions.
class DialogCloser {
 public:
  DialogCloser() : thread_([this] { Run(); }) {}
  ~DialogCloser() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::string> captions;

 private:
  void Run() {
    while (!stop_) {
      HWND box = nullptr;
      while ((box = ::FindWindowExA(nullptr, box, "#32770", nullptr)) != nullptr) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(box, &pid);
        if (pid != ::GetCurrentProcessId() || !::IsWindowVisible(box) || !seen_.insert(box).second) continue;
        char caption[256] = {};
        ::GetWindowTextA(box, caption, sizeof caption);
        captions.push_back(caption);
        ::PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
      }
      ::Sleep(20);
    }
  }
  std::atomic<bool> stop_{false};
  std::set<HWND> seen_;
  std::thread thread_;
};

TEST_F(DocumentTest, PrintWithoutAPrinterStopsBeforeBeginPrinting) {
  ASSERT_NE(NewDocument(), nullptr);
  DialogCloser closer;
  Command(ID_FILE_PRINT);         // the print dialog, cancelled
  Command(ID_FILE_PRINT_DIRECT);  // no default printer: the dialog again, cancelled
  EXPECT_FALSE(closer.captions.empty());
  EXPECT_EQ(closer.captions.front(), "Print");
  EXPECT_EQ(Events(), (std::vector<std::string>{"prepare-printing", "prepare-printing"}));
}

}  // namespace
