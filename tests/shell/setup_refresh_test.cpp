// After File > Setup ends with OK, the active document's views repaint with the stored values;
// views of other documents and a cancelled Setup repaint nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "agent/framework/ui/afx_ids.h"
#include "tests/harness/registry.h"
#include "tests/shell/inprocess_shell.h"
#include "tests/shell/windows_under_test.h"

namespace shelltest {
namespace {

constexpr UINT kSetupCommand = 32771;
constexpr int kWaitMs = 10000;

class SetupRefresh : public InProcessShell {
 protected:
  void SetUp() override {
    InProcessShell::SetUp();
    // A second document, active, with two windows on it; the first document stays behind.
    otherViews_ = ActiveDocumentViews();
    theApp().OnFileNew();
    SendMessageA(frame_->m_hWnd, WM_COMMAND, ID_WINDOW_NEW, 0);
    Pump();
  }

  static CWinApp& theApp() { return *AfxGetApp(); }

  // Runs File > Setup on this thread. Another thread moves the dialog off the frame (so that
  // closing it uncovers no view), waits until every view has painted, types `host` and clicks
  // `button`.
  void RunSetup(const std::string& host, int button) {
    const std::vector<HWND> views = AllViews();
    std::atomic<bool> driven{false};
    std::atomic<bool> finished{false};
    std::thread driver([&] {
      struct Done {
        std::atomic<bool>& flag;
        ~Done() { flag = true; }
      } done{finished};
      const HWND dialog = WaitForDialog(GetCurrentProcessId(), "Setup", kWaitMs);
      if (!dialog) return;
      SetWindowPos(dialog, nullptr, 0, 900, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      WaitUntil([&] {
        for (HWND view : views) {
          if (HasUpdateRegion(view)) return false;
        }
        return true;
      }, kWaitMs);
      SetItemText(dialog, 1000, host);
      driven = true;
      SendMessageA(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
    });
    SendMessageA(frame_->m_hWnd, WM_COMMAND, kSetupCommand, 0);
    // The driver reads window texts of this thread: keep answering until it is done.
    while (!finished) {
      Pump();
      Sleep(5);
    }
    driver.join();
    ASSERT_TRUE(driven);
  }

  std::vector<HWND> otherViews_;
};

TEST_F(SetupRefresh, OkRepaintsEveryViewOfTheActiveDocumentWithTheStoredValues) {
  const std::vector<HWND> active = ActiveDocumentViews();
  ASSERT_EQ(active.size(), 2u);
  ASSERT_EQ(otherViews_.size(), 1u);
  RunSetup("repainted.example", IDOK);

  for (HWND view : active) EXPECT_TRUE(HasUpdateRegion(view));
  EXPECT_FALSE(HasUpdateRegion(otherViews_[0]));

  drawn_.clear();
  Pump();
  std::vector<HWND> painted;
  for (const DrawTextCall& call : drawn_) {
    painted.push_back(call.window);
    EXPECT_NE(call.text.find("    Host: repainted.example\r\n"), std::string::npos);
  }
  EXPECT_EQ(painted.size(), 2u);
  for (HWND view : active) EXPECT_NE(std::find(painted.begin(), painted.end(), view), painted.end());
}

TEST_F(SetupRefresh, CancelRepaintsNothing) {
  RunSetup("cancelled.example", IDCANCEL);
  for (HWND view : AllViews()) EXPECT_FALSE(HasUpdateRegion(view));
  EXPECT_FALSE(harness::ReadValue(HKEY_CURRENT_USER, kSettingsKey, "host").exists);
}

}  // namespace
}  // namespace shelltest
