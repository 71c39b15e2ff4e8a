#include "tests/framework/test_app.h"

#include <algorithm>
#include <stdexcept>

std::vector<std::string>& Events() {
  static std::vector<std::string> events;
  return events;
}

int TestDoc::live = 0;

TestDoc::TestDoc() {
  EnableAutomation();
  AfxOleLockApp();
  ++live;
}

TestDoc::~TestDoc() {
  --live;
  AfxOleUnlockApp();
}

const fw::CommandMap* TestDoc::GetCommandMap() const {
  static const fw::CommandMap map(CDocument::GetCommandMap(),
                                  {fw::OnCommand(ID_TEST_DOC, &TestDoc::OnTestDoc),
                                   fw::OnCommand(ID_TEST_EVERYWHERE, &TestDoc::OnEverywhere)});
  return &map;
}

void TestView::OnDraw(CDC* dc) {
  if (dc->m_bPrinting) {
    Events().push_back("draw:printing");
  } else {
    ++screenDraws;  // paints come whenever the system asks: counted apart from the events
  }
  RECT rect{0, 0, 800, 800};
  dc->DrawText(text, &rect, 0);
}

void TestView::OnUpdate(CView* sender, LPARAM hint, CObject* hintObject) {
  ++updates;
  lastSender = sender;
  CView::OnUpdate(sender, hint, hintObject);
}

BOOL TestView::OnPreparePrinting(CPrintInfo* info) {
  Events().push_back("prepare-printing");
  return DoPreparePrinting(info);
}

void TestView::OnBeginPrinting(CDC*, CPrintInfo*) { Events().push_back("begin-printing"); }

void TestView::OnEndPrinting(CDC*, CPrintInfo*) { Events().push_back("end-printing"); }

const fw::CommandMap* TestView::GetCommandMap() const {
  static const fw::CommandMap map(CView::GetCommandMap(),
                                  {fw::OnCommand(ID_TEST_VIEW, &TestView::OnTestView),
                                   fw::OnCommand(ID_TEST_EVERYWHERE, &TestView::OnEverywhere),
                                   fw::OnCommandRange(ID_FILE_PRINT, ID_FILE_PRINT_DIRECT, &CView::OnFilePrint),
                                   fw::OnCommand(ID_FILE_PRINT_PREVIEW, &CView::OnFilePrintPreview)});
  return &map;
}

const fw::CommandMap* TestChild::GetCommandMap() const {
  static const fw::CommandMap map(CMDIChildWnd::GetCommandMap(),
                                  {fw::OnCommand(ID_TEST_CHILD, &TestChild::OnTestChild),
                                   fw::OnCommand(ID_TEST_EVERYWHERE, &TestChild::OnEverywhere)});
  return &map;
}

int TestMainFrame::OnCreate(LPCREATESTRUCTA cs) {
  if (CMDIFrameWnd::OnCreate(cs) == -1) return -1;
  if (!m_wndToolBar.CreateEx(this, TBSTYLE_FLAT,
                             WS_CHILD | WS_VISIBLE | CBRS_TOP | CBRS_GRIPPER | CBRS_TOOLTIPS | CBRS_FLYBY |
                                 CBRS_SIZE_DYNAMIC) ||
      !m_wndToolBar.LoadToolBar(128)) {
    return -1;
  }
  static const UINT indicators[] = {ID_SEPARATOR, ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL};
  if (!m_wndStatusBar.Create(this) || !m_wndStatusBar.SetIndicators(indicators, 4)) return -1;
  DockControlBar(&m_wndToolBar);
  return 0;
}

BOOL TestMainFrame::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (wParam == 101) {  // a private command taken before the routing
    Events().push_back("main:101");
    return TRUE;
  }
  return CMDIFrameWnd::OnCommand(wParam, lParam);
}

const fw::CommandMap* TestMainFrame::GetCommandMap() const {
  static const fw::CommandMap map(CMDIFrameWnd::GetCommandMap(),
                                  {fw::OnCommand(ID_TEST_MAIN, &TestMainFrame::OnTestMain),
                                   fw::OnCommand(ID_TEST_EVERYWHERE, &TestMainFrame::OnEverywhere)});
  return &map;
}

const fw::CommandMap* TestApp::GetCommandMap() const {
  static const fw::CommandMap map(CWinApp::GetCommandMap(),
                                  {fw::OnCommand(ID_FILE_NEW, &CWinApp::OnFileNew),
                                   fw::OnCommand(ID_FILE_OPEN, &CWinApp::OnFileOpen),
                                   fw::OnCommand(ID_TEST_APP, &TestApp::OnTestApp),
                                   fw::OnCommand(ID_TEST_DISABLED, &TestApp::OnTestDisabled),
                                   fw::OnUpdateCommandUI(ID_TEST_DISABLED, &TestApp::OnUpdateTestDisabled),
                                   fw::OnCommand(ID_TEST_EVERYWHERE, &TestApp::OnEverywhere),
                                   fw::OnCommand(ID_TEST_THROW, &TestApp::OnTestThrow)});
  return &map;
}

void TestApp::OnTestThrow() { throw std::runtime_error("broken handler"); }

void FrameworkTest::SetUp() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&controls);
  fw::SetAppTitle("Brisomel");
  Events().clear();
  app.AddDocTemplate(
      new CMultiDocTemplate(129, RUNTIME_CLASS(TestDoc), RUNTIME_CLASS(TestChild), RUNTIME_CLASS(TestView)));
  frame = new TestMainFrame;
  ASSERT_TRUE(frame->LoadFrame(128, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE));
  app.SetMainWnd(frame);
  frame->ShowWindow(SW_SHOW);
  frame->UpdateWindow();
  Pump();
}

void FrameworkTest::TearDown() {
  app.CloseAllDocuments();
  if (app.m_pMainWnd) app.m_pMainWnd->DestroyWindow();
  // Destroying the main window ends the application: drop its WM_QUIT.
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message != WM_QUIT) ::DispatchMessageA(&msg);
  }
  EXPECT_EQ(TestDoc::live, 0);
  EXPECT_EQ(AfxOleGetLockCount(), 0);
}

void FrameworkTest::Pump() {
  for (int i = 0; i < 3; ++i) fw::PumpWaitingMessages();
}

TestDoc* FrameworkTest::NewDocument() {
  const auto before = Template()->GetDocuments();
  Command(ID_FILE_NEW);
  const auto& after = Template()->GetDocuments();
  for (CDocument* doc : after) {
    if (std::find(before.begin(), before.end(), doc) == before.end()) return dynamic_cast<TestDoc*>(doc);
  }
  return nullptr;
}

void FrameworkTest::Command(UINT id) {
  frame->SendMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0);
  Pump();
}

UINT FrameworkTest::MenuState(UINT id) {
  HMENU bar = ::GetMenu(frame->m_hWnd);
  for (int i = 0; i < ::GetMenuItemCount(bar); ++i) {
    HMENU popup = ::GetSubMenu(bar, i);
    if (::GetMenuState(popup, id, MF_BYCOMMAND) == static_cast<UINT>(-1)) continue;
    frame->SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), MAKELPARAM(i, FALSE));
    return ::GetMenuState(popup, id, MF_BYCOMMAND);
  }
  return static_cast<UINT>(-1);
}

std::vector<TestView*> FrameworkTest::ViewsOf(CDocument* doc) const {
  std::vector<TestView*> views;
  for (CView* view : doc->GetViews()) views.push_back(dynamic_cast<TestView*>(view));
  return views;
}
