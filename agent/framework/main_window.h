#pragma once
#include <windows.h>

namespace fw {

// The main window of the application object running on this (the only) thread: the main frame
// once start-up has created it, null before.
HWND GetMainWindowHandle();
void SetMainWindowHandle(HWND window);

}  // namespace fw
