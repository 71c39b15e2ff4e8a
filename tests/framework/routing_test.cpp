// Command routing (view, document, child frame, main frame, application) and command enabling.
#include "tests/framework/test_app.h"

namespace {

using Strings = std::vector<std::string>;

class RoutingTest : public FrameworkTest {};

TEST_F(RoutingTest, EachLevelReceivesItsCommandWithADocumentOpen) {
  ASSERT_NE(NewDocument(), nullptr);
  const struct {
    UINT id;
    const char* handler;
  } cases[] = {{ID_TEST_VIEW, "view"},   {ID_TEST_DOC, "doc"}, {ID_TEST_CHILD, "child"},
               {ID_TEST_MAIN, "main"},   {ID_TEST_APP, "app"}, {ID_TEST_EVERYWHERE, "view:everywhere"}};
  for (const auto& c : cases) {
    Events().clear();
    Command(c.id);
    EXPECT_EQ(Events(), Strings{c.handler}) << c.id;
  }
}

TEST_F(RoutingTest, WithoutADocumentOnlyFrameAndApplicationHandle) {
  Command(ID_TEST_VIEW);
  Command(ID_TEST_DOC);
  Command(ID_TEST_CHILD);
  Command(ID_TEST_EVERYWHERE);
  Command(ID_TEST_APP);
  EXPECT_EQ(Events(), (Strings{"main:everywhere", "app"}));
}

TEST_F(RoutingTest, OnCommandOverrideRunsBeforeRoutingAndNonZeroCodesAreNotCommands) {
  frame->SendMessage(WM_COMMAND, 101, 0x1234);
  frame->SendMessage(WM_COMMAND, MAKEWPARAM(ID_TEST_APP, 5), reinterpret_cast<LPARAM>(frame->m_hWnd));
  EXPECT_EQ(Events(), Strings{"main:101"});
}

TEST_F(RoutingTest, MenuItemsWithoutHandlerAreGrayed) {
  ASSERT_NE(NewDocument(), nullptr);
  const struct {
    UINT id;
    bool enabled;
  } cases[] = {{ID_EDIT_UNDO, false}, {ID_EDIT_CUT, false},   {ID_TEST_VIEW, true},     {ID_TEST_DOC, true},
               {ID_TEST_CHILD, true}, {ID_TEST_MAIN, true},   {ID_TEST_APP, true},      {ID_TEST_DISABLED, false},
               {ID_FILE_NEW, true},   {ID_FILE_CLOSE, true},  {ID_FILE_SAVE, true},     {ID_WINDOW_NEW, true},
               {ID_WINDOW_CASCADE, true}, {ID_APP_EXIT, true}, {ID_VIEW_TOOLBAR, true}};
  for (const auto& c : cases) {
    const UINT state = MenuState(c.id);
    ASSERT_NE(state, static_cast<UINT>(-1)) << c.id;
    EXPECT_EQ((state & MF_GRAYED) == 0, c.enabled) << c.id;
  }
}

TEST_F(RoutingTest, ToolbarButtonsFollowTheirHandlersAtIdleTime) {
  auto enabled = [&](UINT id) {
    return (::SendMessageA(frame->m_wndToolBar.m_hWnd, TB_GETSTATE, id, 0) & TBSTATE_ENABLED) != 0;
  };
  Pump();
  EXPECT_TRUE(enabled(ID_FILE_NEW));
  EXPECT_FALSE(enabled(ID_FILE_SAVE));  // a document command, no document
  EXPECT_FALSE(enabled(ID_EDIT_CUT));
  EXPECT_FALSE(enabled(ID_TEST_VIEW));
  ASSERT_NE(NewDocument(), nullptr);
  EXPECT_TRUE(enabled(ID_FILE_SAVE));
  EXPECT_TRUE(enabled(ID_TEST_VIEW));
  EXPECT_FALSE(enabled(ID_EDIT_CUT));
}

TEST_F(RoutingTest, ToolbarClickRoutesLikeAMenuCommand) {
  ASSERT_NE(NewDocument(), nullptr);
  frame->SendMessage(WM_COMMAND, MAKEWPARAM(ID_TEST_VIEW, BN_CLICKED),
                     reinterpret_cast<LPARAM>(frame->m_wndToolBar.m_hWnd));
  EXPECT_EQ(Events(), Strings{"view"});
}

TEST_F(RoutingTest, AcceleratorsRunEnabledCommandsOnly) {
  auto press = [&](WPARAM key) {
    MSG msg{frame->m_hWnd, WM_KEYDOWN, key, 0, 0, {0, 0}};
    const BOOL taken = app.PreTranslateMessage(&msg);
    Pump();
    return taken;
  };
  EXPECT_TRUE(press(VK_F8));
  EXPECT_EQ(Events(), Strings{"app"});
  Events().clear();
  press(VK_F7);  // its update handler disables it
  press(VK_F6);  // no handler anywhere
  EXPECT_TRUE(Events().empty());
}

TEST_F(RoutingTest, ViewToggleHidesTheBarAndChecksTheMenuItem) {
  EXPECT_TRUE(MenuState(ID_VIEW_STATUS_BAR) & MF_CHECKED);
  Command(ID_VIEW_STATUS_BAR);
  EXPECT_FALSE(frame->m_wndStatusBar.IsWindowVisible());
  EXPECT_FALSE(MenuState(ID_VIEW_STATUS_BAR) & MF_CHECKED);
  Command(ID_VIEW_STATUS_BAR);
  EXPECT_TRUE(frame->m_wndStatusBar.IsWindowVisible());
}

}  // namespace
