#pragma once
// Windows Sockets start-up for the application (version 1.1); cleaned up at process end.
#include <windows.h>

// FALSE when Windows Sockets cannot be initialised.
BOOL AfxSocketInit();
