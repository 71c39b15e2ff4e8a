#pragma once
// Drives the dialogs of another process the way a user does: finds a window, reads its texts,
// presses its buttons. Works headless (Wine's null driver): the windows are real, just not drawn.
#include <windows.h>

#include <functional>
#include <string>

namespace installer_test {

std::string WindowText(HWND window);
// The text of a message box (its static control 0xFFFF).
std::string MessageBoxText(HWND box);

// The first visible dialog (class "#32770") of process pid with this caption (blanks after it
// do not count) that passes the test, waiting up to timeoutMs; null when none appeared.
HWND WaitForDialog(DWORD pid, const std::string& caption, const std::function<bool(HWND)>& test, int timeoutMs);

// The top-level windows of process pid, one line each (class, caption, visibility, the texts of
// buttons 1 to 3): for a failing test's message.
std::string DescribeWindowsOf(DWORD pid);

// Waits until the dialog's button reads `text` and is enabled (a wizard's buttons change with its
// pages and stay disabled while the work runs).
bool WaitForButton(HWND dialog, int id, const std::string& text, int timeoutMs);

// Presses the dialog's button as a click does (WM_COMMAND BN_CLICKED, posted: a click that opens
// a modal box must not block the test).
void PressButton(HWND dialog, int id);

}  // namespace installer_test
