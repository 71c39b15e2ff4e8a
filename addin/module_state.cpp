#include "addin/module_state.h"

HMODULE g_hModule = nullptr;
LONG g_cObjects = 0;
LONG g_cLocks = 0;
