#pragma once
// Module-wide state of the in-process server: its own module handle and the two counts that
// decide whether the host may unload it. Plain integers: every call arrives on the host's one
// apartment thread.
#include <windows.h>

extern HMODULE g_hModule;
extern LONG g_cObjects;  // live CAddin objects (class factories are not counted)
extern LONG g_cLocks;    // IClassFactory::LockServer count
