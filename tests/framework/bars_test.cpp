// Status bar panes (message, key indicators), prompts, tooltips and the caption.
#include "tests/framework/test_app.h"

namespace {

class BarsTest : public FrameworkTest {
 protected:
  std::string Pane(int index) const { return frame->m_wndStatusBar.GetPaneText(index); }
  static void SetToggle(int key, bool on) {
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[key] = on ? 1 : 0;
    ::SetKeyboardState(keys);
  }
};

TEST_F(BarsTest, IdleShowsReadyAndTheIndicatorsOfKeysThatAreOn) {
  SetToggle(VK_CAPITAL, true);
  SetToggle(VK_NUMLOCK, false);
  SetToggle(VK_SCROLL, true);
  Pump();
  EXPECT_EQ(::SendMessageA(frame->m_wndStatusBar.m_hWnd, SB_GETPARTS, 0, 0), 4);
  EXPECT_EQ(Pane(0), "Ready");
  EXPECT_EQ(Pane(1), "CAP");
  EXPECT_EQ(Pane(2), "");
  EXPECT_EQ(Pane(3), "SCRL");
  SetToggle(VK_CAPITAL, false);
  SetToggle(VK_SCROLL, false);
  Pump();
  EXPECT_EQ(Pane(1), "");
  EXPECT_EQ(Pane(3), "");
}

TEST_F(BarsTest, MenuSelectionShowsThePromptAndClosingTheMenuShowsReady) {
  HMENU file = ::GetSubMenu(::GetMenu(frame->m_hWnd), 0);
  frame->SendMessage(WM_MENUSELECT, MAKEWPARAM(ID_FILE_NEW, MF_STRING), reinterpret_cast<LPARAM>(file));
  EXPECT_EQ(Pane(0), "Create a new document");
  frame->SendMessage(WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
  EXPECT_EQ(Pane(0), "Ready");
}

TEST_F(BarsTest, ButtonHoverShowsThePromptAndTooltipsShowTheShortText) {
  NMTBHOTITEM hot{};
  hot.hdr.hwndFrom = frame->m_wndToolBar.m_hWnd;
  hot.hdr.idFrom = AFX_IDW_TOOLBAR;
  hot.hdr.code = TBN_HOTITEMCHANGE;
  hot.idNew = ID_EDIT_CUT;
  frame->SendMessage(WM_NOTIFY, AFX_IDW_TOOLBAR, reinterpret_cast<LPARAM>(&hot));
  EXPECT_EQ(Pane(0), "Cut the selection");
  Pump();  // idle must not replace the prompt while the mouse is on the button
  EXPECT_EQ(Pane(0), "Cut the selection");
  hot.idNew = 0;
  hot.dwFlags = HICF_LEAVING;
  frame->SendMessage(WM_NOTIFY, AFX_IDW_TOOLBAR, reinterpret_cast<LPARAM>(&hot));
  EXPECT_EQ(Pane(0), "Ready");

  NMTTDISPINFOA tip{};
  tip.hdr.code = TTN_GETDISPINFOA;
  tip.hdr.idFrom = ID_FILE_SAVE;
  frame->SendMessage(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&tip));
  ASSERT_NE(tip.lpszText, nullptr);
  EXPECT_STREQ(tip.lpszText, "Save");
}

TEST_F(BarsTest, ToolbarHasTheResourcesButtonsInOrder) {
  HWND bar = frame->m_wndToolBar.m_hWnd;
  ASSERT_EQ(::SendMessageA(bar, TB_BUTTONCOUNT, 0, 0), 5);
  const int expected[] = {ID_FILE_NEW, ID_FILE_SAVE, 0, ID_EDIT_CUT, ID_TEST_VIEW};
  for (int i = 0; i < 5; ++i) {
    TBBUTTON button{};
    ASSERT_TRUE(::SendMessageA(bar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button)));
    EXPECT_EQ(button.idCommand, expected[i]) << i;
  }
}

TEST_F(BarsTest, LayoutPutsTheToolbarOnTopAndTheStatusBarAtTheBottom) {
  RECT client{}, tool{}, status{}, mdi{};
  ::GetClientRect(frame->m_hWnd, &client);
  ::GetWindowRect(frame->m_wndToolBar.m_hWnd, &tool);
  ::GetWindowRect(frame->m_wndStatusBar.m_hWnd, &status);
  ::GetWindowRect(frame->m_hWndMDIClient, &mdi);
  POINT origin{0, 0};
  ::ClientToScreen(frame->m_hWnd, &origin);
  EXPECT_EQ(tool.top, origin.y);
  EXPECT_EQ(mdi.top, tool.bottom);
  EXPECT_EQ(mdi.bottom, status.top);
  EXPECT_EQ(status.bottom, origin.y + client.bottom);
  EXPECT_GT(tool.bottom - tool.top, 15);
}

}  // namespace
