#pragma once
// Self-registration of the add-in: the COM class and ProgID under HKEY_CLASSES_ROOT and the
// Outlook add-in key under HKEY_CURRENT_USER. Best effort throughout: a key that cannot be
// created is skipped with its values, and the following steps still run.
#include <windows.h>

// Creates (or opens) keyPath, or keyPath\subKey when subKey is given, under root and sets its
// default value to text as REG_SZ.
void CreateKeyWithDefault(HKEY root, const char* keyPath, const char* subKey, const char* text);

// Writes the host's add-in key for the current user: LoadBehavior, CommandLineSafe 0,
// FriendlyName and Description.
void RegisterOfficeAddin(const char* host, const char* progId, const char* description,
                         DWORD loadBehavior);

// Deletes the host's add-in key for the current user with everything below it.
LONG UnregisterOfficeAddin(const char* host, const char* progId);

// Deletes parent\name with all its descendants, children first. Returns the first Win32 error
// met (0 for success); keys deleted before a failure stay deleted.
LONG DeleteKeyTree(HKEY parent, const char* name);
