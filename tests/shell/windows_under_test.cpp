#include "tests/shell/windows_under_test.h"

#include <vector>

namespace shelltest {

namespace {

constexpr int kPollMs = 10;

struct Search {
  DWORD pid;
  const std::function<bool(HWND)>* match;
  HWND found = nullptr;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == search->pid && IsWindowVisible(window) && (*search->match)(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindTopLevel(DWORD pid, const std::function<bool(HWND)>& match) {
  Search search{pid, &match};
  EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollMs);
  }
}

std::string WindowText(HWND window) {
  char buffer[4096];
  const int n = GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string ClassOf(HWND window) {
  char buffer[256];
  const int n = GetClassNameA(window, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string ItemText(HWND dialog, int id) {
  // Asked of the control itself: another process's edit keeps its text out of the window caption.
  char buffer[4096];
  const LRESULT n = SendMessageA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

void SetItemText(HWND dialog, int id, const std::string& text) {
  SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

HWND WaitForTopLevel(DWORD pid, const std::function<bool(HWND)>& match, int timeoutMs) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindTopLevel(pid, match)) != nullptr; }, timeoutMs);
  return found;
}

HWND WaitForMainFrame(DWORD pid, int timeoutMs) {
  return WaitForTopLevel(
      pid, [](HWND w) { return ClassOf(w) != "#32770" && WindowText(w).rfind("Brisomel", 0) == 0; },
      timeoutMs);
}

HWND WaitForDialog(DWORD pid, const std::string& caption, int timeoutMs) {
  return WaitForTopLevel(
      pid, [&](HWND w) { return ClassOf(w) == "#32770" && WindowText(w) == caption; }, timeoutMs);
}

bool WaitForDialogGone(DWORD pid, const std::string& caption, int timeoutMs) {
  const std::function<bool(HWND)> match = [&](HWND w) {
    return ClassOf(w) == "#32770" && WindowText(w) == caption;
  };
  return WaitUntil([&] { return FindTopLevel(pid, match) == nullptr; }, timeoutMs);
}

HWND FocusOfThread(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

}  // namespace shelltest
