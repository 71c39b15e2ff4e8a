#pragma once
// A tiny MDI application on the framework for the tests: a command at every routing level, a
// main frame with toolbar and status bar, and a fixture that builds and tears it down.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/framework/afx.h"
#include "tests/framework/test_ids.h"

// What handlers and virtuals were called, in order ("view", "doc", "begin-printing", ...).
std::vector<std::string>& Events();

class TestDoc : public CDocument {
 public:
  TestDoc();
  ~TestDoc() override;
  static int live;  // documents alive now
  void OnTestDoc() { Events().push_back("doc"); }
  void OnEverywhere() { Events().push_back("doc:everywhere"); }

 protected:
  const fw::CommandMap* GetCommandMap() const override;
};

class TestView : public CView {
 public:
  int updates = 0;
  int screenDraws = 0;
  CView* lastSender = nullptr;
  std::string text = "Line one\r\nLine two";

  void OnDraw(CDC* dc) override;
  void OnUpdate(CView* sender, LPARAM hint, CObject* hintObject) override;
  BOOL OnPreparePrinting(CPrintInfo* info) override;
  void OnBeginPrinting(CDC* dc, CPrintInfo* info) override;
  void OnEndPrinting(CDC* dc, CPrintInfo* info) override;
  void OnTestView() { Events().push_back("view"); }
  void OnEverywhere() { Events().push_back("view:everywhere"); }

 protected:
  const fw::CommandMap* GetCommandMap() const override;
};

class TestChild : public CMDIChildWnd {
 public:
  void OnTestChild() { Events().push_back("child"); }
  void OnEverywhere() { Events().push_back("child:everywhere"); }

 protected:
  const fw::CommandMap* GetCommandMap() const override;
};

class TestMainFrame : public CMDIFrameWnd {
 public:
  CStatusBar m_wndStatusBar;
  CToolBar m_wndToolBar;

  int OnCreate(LPCREATESTRUCTA cs) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnTestMain() { Events().push_back("main"); }
  void OnEverywhere() { Events().push_back("main:everywhere"); }

 protected:
  const fw::CommandMap* GetCommandMap() const override;
};

class TestApp : public CWinApp {
 public:
  void OnTestApp() { Events().push_back("app"); }
  void OnTestDisabled() { Events().push_back("disabled ran"); }
  void OnUpdateTestDisabled(CCmdUI* ui) { ui->Enable(FALSE); }
  void OnEverywhere() { Events().push_back("app:everywhere"); }
  void OnTestThrow();

 protected:
  const fw::CommandMap* GetCommandMap() const override;
};

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the waiting messages and one idle pass.
  static void Pump();
  // File > New through the main frame's command routing; the new document.
  TestDoc* NewDocument();
  // Sends a menu command to the main frame, as a click on the item would.
  void Command(UINT id);
  CDocTemplate* Template() const { return app.GetDocTemplate(); }
  // The menu state of command `id` after the popup holding it was prepared for display.
  UINT MenuState(UINT id);
  std::vector<TestView*> ViewsOf(CDocument* doc) const;

  TestApp app;
  TestMainFrame* frame = nullptr;
};
