// CDialog with data exchange: text and integer fields, the integer rules and their message.
#include "tests/framework/test_app.h"
#include "tests/harness/message_box_watcher.h"
#include "tests/harness/patience.h"

namespace {

constexpr UINT kRunScenario = WM_APP + 1;
constexpr UINT kRunAfter = WM_APP + 2;  // only reached while the dialog's loop still runs

// A dialog that runs the test's scenario from inside its own modal loop.
class ScenarioDialog : public CDialog {
 public:
  ScenarioDialog() : CDialog(IDD_TEST_DIALOG) {}
  std::string m_strText = "initial";
  int m_nNumber = 42;
  std::function<void(ScenarioDialog&)> scenario;
  std::function<void(ScenarioDialog&)> after;
  bool initialControlsChecked = false;
  std::string initialText;
  std::string initialNumber;

  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, IDC_TEST_TEXT, m_strText);
    DDX_Text(pDX, IDC_TEST_NUMBER, m_nNumber);
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    initialText = Text(IDC_TEST_TEXT);
    initialNumber = Text(IDC_TEST_NUMBER);
    PostMessage(kRunScenario);
    return TRUE;
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == kRunScenario) {
      if (scenario) scenario(*this);
      PostMessage(kRunAfter);
      return TRUE;
    }
    if (message == kRunAfter) {
      if (after) after(*this);
      return TRUE;
    }
    return CDialog::WindowProc(message, wParam, lParam);
  }
  std::string Text(int id) const {
    char text[256] = {};
    ::GetDlgItemTextA(m_hWnd, id, text, sizeof text);
    return text;
  }
  void ClickOk() { ::SendMessageA(GetDlgItem(IDOK), BM_CLICK, 0, 0); }
};

class DialogTest : public FrameworkTest {};

TEST_F(DialogTest, ControlsStartWithTheMembersAndOkStoresAcceptedIntegers) {
  const struct {
    const char* typed;
    int stored;
  } cases[] = {{"8155 ", 8155},     {"-5", -5},   {" +7\t", 7},          {"0", 0},
               {"\t 65536", 65536}, {"-0", 0},    {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}};
  for (const auto& c : cases) {
    ScenarioDialog dialog;
    dialog.scenario = [&](ScenarioDialog& d) {
      ::SetDlgItemTextA(d.m_hWnd, IDC_TEST_TEXT, "new & text");
      ::SetDlgItemTextA(d.m_hWnd, IDC_TEST_NUMBER, c.typed);
      d.ClickOk();
    };
    EXPECT_EQ(dialog.DoModal(), IDOK) << c.typed;
    EXPECT_EQ(dialog.initialText, "initial");
    EXPECT_EQ(dialog.initialNumber, "42");
    EXPECT_EQ(dialog.m_nNumber, c.stored) << c.typed;
    EXPECT_EQ(dialog.m_strText, "new & text");
  }
}

TEST_F(DialogTest, RefusedIntegersShowTheMessageFocusTheFieldAndKeepTheDialogOpen) {
  const char* refused[] = {"abc", "", "12ab", "1 2", "+", " - 3", "0x10", "2147483648", "99999999999"};
  for (const char* typed : refused) {
    harness::MessageBoxWatcher boxes("Brisomel");
    ScenarioDialog dialog;
    bool stayedOpen = false;
    bool focusOnField = false;
    std::string textAfter;
    int numberAfter = 0;
    dialog.scenario = [&](ScenarioDialog& d) {
      ::SetDlgItemTextA(d.m_hWnd, IDC_TEST_TEXT, "changed");
      ::SetDlgItemTextA(d.m_hWnd, IDC_TEST_NUMBER, typed);
      d.ClickOk();  // returns after the watcher closed the message box
      focusOnField = ::GetFocus() == d.GetDlgItem(IDC_TEST_NUMBER);
      textAfter = d.m_strText;
      numberAfter = d.m_nNumber;
    };
    dialog.after = [&](ScenarioDialog& d) {
      stayedOpen = true;
      d.EndDialog(IDCANCEL);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL) << typed;
    ASSERT_TRUE(boxes.WaitForCount(1, harness::kPatientMs)) << typed;
    EXPECT_EQ(boxes.Seen()[0].text, "Please enter an integer.");
    EXPECT_TRUE(stayedOpen) << typed;
    EXPECT_TRUE(focusOnField) << typed;
    // The exchange stopped at the number: the text before it was taken, the number kept.
    EXPECT_EQ(textAfter, "changed");
    EXPECT_EQ(numberAfter, 42);
  }
}

TEST_F(DialogTest, CancelStoresNothing) {
  ScenarioDialog dialog;
  dialog.scenario = [](ScenarioDialog& d) {
    ::SetDlgItemTextA(d.m_hWnd, IDC_TEST_TEXT, "other");
    ::SetDlgItemTextA(d.m_hWnd, IDC_TEST_NUMBER, "7");
    ::SendMessageA(d.GetDlgItem(IDCANCEL), BM_CLICK, 0, 0);
  };
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(dialog.m_strText, "initial");
  EXPECT_EQ(dialog.m_nNumber, 42);
}

TEST_F(DialogTest, OwnerIsTheMainWindowWhenNoParentIsGiven) {
  ScenarioDialog dialog;
  HWND owner = nullptr;
  dialog.scenario = [&](ScenarioDialog& d) {
    owner = ::GetWindow(d.m_hWnd, GW_OWNER);
    d.EndDialog(IDOK);
  };
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(owner, frame->m_hWnd);
}

}  // namespace
