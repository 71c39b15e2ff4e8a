#pragma once
// cadelo's frames, document and views created in the test process itself, on the real classes
// and resources, so a test can watch what reaches DrawText and hand records to the main frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/framework/afx.h"
#include "agent/shell/main_frame.h"
#include "tests/shell/installed_cadelo.h"

namespace shelltest {

struct DrawTextCall {
  HWND window;  // the window the device context belongs to
  std::string text;
  int count;
  RECT rect;
  UINT format;
};

class InProcessShell : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the messages waiting now (paints included) and the idle work.
  static void Pump();
  // The views of the active document, and of every document.
  std::vector<HWND> ActiveDocumentViews() const;
  std::vector<HWND> AllViews() const;
  // Invalidates the view and paints it now.
  static void Repaint(HWND view);
  static bool HasUpdateRegion(HWND view) { return GetUpdateRect(view, nullptr, FALSE) != FALSE; }

  CleanRegistry registry_;
  CMainFrame* frame_ = nullptr;
  std::vector<DrawTextCall> drawn_;
  // The frame's reminder path: records queued here are called; what it would tell the user, and
  // what it notes as called, is kept here.
  ReminderHandOver reminders_;
  SessionRecord called_;
  std::vector<std::string> told_;
};

}  // namespace shelltest
