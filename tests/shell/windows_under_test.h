#pragma once
// Finding and driving the windows of a program under test: its main frame, its dialogs and their
// controls, by process id, caption and control id.
#include <windows.h>

#include <functional>
#include <string>

namespace shelltest {

// Polls `condition` every few milliseconds until it holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

std::string WindowText(HWND window);
std::string ClassOf(HWND window);
std::string ItemText(HWND dialog, int id);
void SetItemText(HWND dialog, int id, const std::string& text);

// A visible top-level window of process `pid` that `match` accepts; null when none appears in
// time.
HWND WaitForTopLevel(DWORD pid, const std::function<bool(HWND)>& match, int timeoutMs);
// The program's main frame: its caption starts with the application title "Brisomel".
HWND WaitForMainFrame(DWORD pid, int timeoutMs);
// A dialog (class "#32770") of `pid` with exactly this caption.
HWND WaitForDialog(DWORD pid, const std::string& caption, int timeoutMs);
// True when no window of `pid` with this dialog caption is left.
bool WaitForDialogGone(DWORD pid, const std::string& caption, int timeoutMs);

// The window that has the keyboard focus in the thread that owns `window`.
HWND FocusOfThread(HWND window);

}  // namespace shelltest
