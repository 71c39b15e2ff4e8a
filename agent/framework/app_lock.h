#pragma once
// Application locks: every live automation-visible object (each document) holds one. When the
// last lock goes while the user does not control the application (it was started for an
// automation client), the main window is closed and the application ends.
#include <windows.h>

void AfxOleLockApp();
void AfxOleUnlockApp();
// Number of locks held now.
LONG AfxOleGetLockCount();
// TRUE (the default) when the user started the application; FALSE when an automation client did.
BOOL AfxOleGetUserCtrl();
void AfxOleSetUserCtrl(BOOL bUserCtrl);
