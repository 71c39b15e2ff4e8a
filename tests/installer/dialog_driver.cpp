#include "tests/installer/dialog_driver.h"

#include "tests/harness/process.h"
#include "tests/installer/installation.h"

namespace installer_test {

namespace {

// Wizards show the page's subcaption after their caption (the standard pages: a blank).
std::string WithoutTrailingBlanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

struct Search {
  DWORD pid;
  const std::string* caption;
  const std::function<bool(HWND)>* test;
  HWND found = nullptr;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  if (pid == search->pid && std::string(className) == "#32770" && IsWindowVisible(window) &&
      WithoutTrailingBlanks(WindowText(window)) == *search->caption && (*search->test)(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

std::string WindowText(HWND window) {
  char text[4096] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string MessageBoxText(HWND box) { return WindowText(GetDlgItem(box, 0xFFFF)); }

HWND WaitForDialog(DWORD pid, const std::string& caption, const std::function<bool(HWND)>& test, int timeoutMs) {
  Search search{pid, &caption, &test};
  WaitFor(
      [&] {
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeoutMs);
  return search.found;
}

std::string DescribeWindowsOf(DWORD pid) {
  std::string text;
  for (HWND window : harness::FindTopLevelWindows(pid)) {
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    text += std::string(className) + " \"" + WindowText(window) + "\"" + (IsWindowVisible(window) ? " visible" : "");
    for (int id = 1; id <= 3; ++id) {
      if (HWND button = GetDlgItem(window, id)) text += " [" + std::to_string(id) + " \"" + WindowText(button) + "\"]";
    }
    text += "\n";
  }
  return text;
}

bool WaitForButton(HWND dialog, int id, const std::string& text, int timeoutMs) {
  return WaitFor(
      [&] {
        HWND button = GetDlgItem(dialog, id);
        return button && WindowText(button) == text && IsWindowEnabled(button);
      },
      timeoutMs);
}

void PressButton(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace installer_test
