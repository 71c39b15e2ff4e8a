// The framework's program run: InitInstance, the message loop, ExitInstance's exit code.
#include "tests/framework/test_app.h"

namespace {

// An application whose start-up is scripted by the test.
class ScriptedApp : public TestApp {
 public:
  bool initResult = true;
  bool createFrame = true;
  int exitCode = 7;
  std::vector<std::string> calls;
  HWND frameWindow = nullptr;

  BOOL InitInstance() override {
    calls.push_back("init:" + fw::AppTitle());
    if (createFrame) {
      auto* frame = new TestMainFrame;
      if (!frame->LoadFrame(128, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE)) return FALSE;
      SetMainWnd(frame);
      frameWindow = frame->m_hWnd;
      // The user picks File > Exit once the loop runs.
      frame->PostMessage(WM_COMMAND, ID_APP_EXIT);
    }
    return initResult ? TRUE : FALSE;
  }
  int ExitInstance() override {
    calls.push_back(std::string("exit:") + (m_pMainWnd ? "main window left" : "no main window"));
    return exitCode;
  }
};

void DropQuit() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

TEST(AppRunTest, SuccessfulStartRunsTheLoopUntilExitAndReturnsExitInstancesCode) {
  ScriptedApp app;
  EXPECT_EQ(fw::RunApplication(::GetModuleHandleA(nullptr)), 7);
  EXPECT_EQ(app.calls, (std::vector<std::string>{"init:Brisomel", "exit:no main window"}));
  EXPECT_FALSE(::IsWindow(app.frameWindow));
  EXPECT_EQ(fw::GetMainWindowHandle(), nullptr);
}

TEST(AppRunTest, FailedStartDestroysTheMainWindowAndStillCallsExitInstance) {
  ScriptedApp app;
  app.initResult = false;
  app.exitCode = 0;
  EXPECT_EQ(fw::RunApplication(::GetModuleHandleA(nullptr)), 0);
  EXPECT_EQ(app.calls, (std::vector<std::string>{"init:Brisomel", "exit:no main window"}));
  EXPECT_FALSE(::IsWindow(app.frameWindow));
  DropQuit();
}

TEST(AppRunTest, FailedStartWithoutAMainWindowEndsTheSameWay) {
  ScriptedApp app;
  app.initResult = false;
  app.createFrame = false;
  EXPECT_EQ(fw::RunApplication(::GetModuleHandleA(nullptr)), 7);
  EXPECT_EQ(app.calls, (std::vector<std::string>{"init:Brisomel", "exit:no main window"}));
}

TEST(AppRunTest, WithoutAnApplicationObjectNothingRuns) {
  EXPECT_EQ(AfxGetApp(), nullptr);
  EXPECT_EQ(fw::RunApplication(::GetModuleHandleA(nullptr)), -1);
}

}  // namespace
