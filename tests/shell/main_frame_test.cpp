// The real program's main frame: toolbar buttons and their enabling, status bar panes, the About
// box.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "agent/framework/ui/afx_ids.h"
#include "tests/shell/installed_cadelo.h"
#include "tests/shell/windows_under_test.h"

namespace shelltest {
namespace {

constexpr int kWaitMs = 15000;

class MainFrame : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(install_.Ready());
    program_ = install_.Start();
    frame_ = WaitForMainFrame(program_.Pid(), kWaitMs);
    ASSERT_NE(frame_, nullptr);
    ASSERT_TRUE(WaitForAddinRegistrations(1, kWaitMs));
  }
  void TearDown() override {
    if (frame_) {
      EXPECT_TRUE(ExitThroughMenu(program_.Handle(), frame_, kWaitMs));
      EXPECT_EQ(program_.ExitCode(), 0u);
    }
  }

  CleanRegistry registry_;
  InstalledCadelo install_;
  harness::Process program_;
  HWND frame_ = nullptr;
};

TEST_F(MainFrame, ToolbarHoldsTheButtonsInOrderAndDisablesCommandsWithoutHandler) {
  const HWND toolbar = GetDlgItem(frame_, AFX_IDW_TOOLBAR);
  ASSERT_NE(toolbar, nullptr);
  EXPECT_EQ(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0), 11);
  const std::vector<std::pair<UINT, LRESULT>> positions = {
      {ID_FILE_NEW, 0},  {ID_FILE_OPEN, 1},  {ID_FILE_SAVE, 2},  {ID_EDIT_CUT, 4},
      {ID_EDIT_COPY, 5}, {ID_EDIT_PASTE, 6}, {ID_FILE_PRINT, 8}, {ID_APP_ABOUT, 10}};
  for (const auto& [id, index] : positions) EXPECT_EQ(SendMessageA(toolbar, TB_COMMANDTOINDEX, id, 0), index) << id;

  auto enabled = [&](UINT id) { return (SendMessageA(toolbar, TB_GETSTATE, id, 0) & TBSTATE_ENABLED) != 0; };
  ASSERT_TRUE(WaitUntil([&] { return !enabled(ID_EDIT_CUT); }, kWaitMs));
  for (UINT id : {ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE}) EXPECT_FALSE(enabled(id)) << id;
  for (UINT id : {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, ID_FILE_PRINT, ID_APP_ABOUT}) EXPECT_TRUE(enabled(id)) << id;
}

TEST_F(MainFrame, StatusBarHasTheMessagePaneAndThreeIndicators) {
  const HWND statusBar = GetDlgItem(frame_, AFX_IDW_STATUS_BAR);
  ASSERT_NE(statusBar, nullptr);
  EXPECT_EQ(SendMessageA(statusBar, SB_GETPARTS, 0, 0), 4);
  EXPECT_TRUE(WaitUntil([&] { return LOWORD(SendMessageA(statusBar, SB_GETTEXTLENGTHA, 0, 0)) == 5; }, kWaitMs));
}

BOOL CALLBACK CollectText(HWND child, LPARAM param) {
  reinterpret_cast<std::vector<std::string>*>(param)->push_back(WindowText(child));
  return TRUE;
}

TEST_F(MainFrame, AboutShowsTheProgramVersionAndClosesWithOk) {
  PostMessageA(frame_, WM_COMMAND, ID_APP_ABOUT, 0);
  const HWND about = WaitForDialog(program_.Pid(), "About cadelo", kWaitMs);
  ASSERT_NE(about, nullptr);
  std::vector<std::string> texts;
  EnumChildWindows(about, CollectText, reinterpret_cast<LPARAM>(&texts));
  EXPECT_NE(std::find(texts.begin(), texts.end(), "cadelo Version 1.0"), texts.end());
  PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitForDialogGone(program_.Pid(), "About cadelo", kWaitMs));
}

}  // namespace
}  // namespace shelltest
