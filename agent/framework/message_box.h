#pragma once
#include <windows.h>

#include <string>

// The framework's message box: modal, captioned with the application title, owned by the
// application's main window when there is one.
int AfxMessageBox(const std::string& text, UINT type = MB_OK, UINT helpId = 0);
// The same with the text of a string resource of the executable.
int AfxMessageBox(UINT stringId, UINT type = MB_OK, UINT helpId = 0);
