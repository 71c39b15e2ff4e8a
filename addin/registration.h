#pragma once
// Self-registration of the add-in: the COM class and ProgID under HKEY_CLASSES_ROOT (or, where
// the machine's classes cannot be written, as for a standard user, under the user's own
// HKCU\Software\Classes) and the Outlook add-in key under HKEY_CURRENT_USER. Wide registry calls
// throughout: the DLL's path may hold characters outside the ANSI code page.
#include <windows.h>

// Under HKEY_CURRENT_USER: the user's own classes, which Windows merges into HKEY_CLASSES_ROOT.
inline constexpr char kUserClassesKeyPath[] = "Software\\Classes";

// Creates (or opens) keyPath, or keyPath\subKey when subKey is given, under root and sets its
// default value to text as REG_SZ. The Win32 error, ERROR_SUCCESS when both worked.
LONG CreateKeyWithDefault(HKEY root, const char* keyPath, const char* subKey, const wchar_t* text);

// The class (with InprocServer32 naming modulePath) and the ProgID under classesRoot, in the
// registration's order; stops at the first failure and returns its Win32 error.
LONG RegisterAddinClass(HKEY classesRoot, const wchar_t* modulePath);

// Writes the host's add-in key for the current user: LoadBehavior, CommandLineSafe 0,
// FriendlyName and Description. The Win32 error of the first failure, or ERROR_SUCCESS.
LONG RegisterOfficeAddin(const char* host, const char* progId, const char* description,
                         DWORD loadBehavior);

// Deletes the host's add-in key for the current user with everything below it.
LONG UnregisterOfficeAddin(const char* host, const char* progId);

// Deletes parent\name with all its descendants, children first. Returns the first Win32 error
// met (0 for success); keys deleted before a failure stay deleted.
LONG DeleteKeyTree(HKEY parent, const char* name);
