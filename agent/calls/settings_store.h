#pragma once
// The settings of a reminder call, kept in the current user's registry. Nothing is cached: every
// call opens the key, reads or writes one value and closes it again, so a setting saved in the
// Setup dialog applies to the very next call request.
#include <cstdint>
#include <string>

#include "common/win/handles.h"

// Under HKEY_CURRENT_USER. Besides the five settings it holds `path` (the agent's full file name,
// written at every visible start and read by the add-in).
extern const char kSettingsKeyPath[];

// Getters never fail and never create the key: a value that cannot be read yields its default
// ("localhost", 8155, empty text).
std::string GetHost();
int32_t GetPort();
std::string GetMyNumber();
std::string GetFirstName();
std::string GetLastName();

// Getters open the key for reading only. Setters return 1 when the value was written and 0 when
// it was not (the user has then been told why, with the system's reason): "Cannot create key in
// registry." when the key is missing and cannot be created, "Cannot save setting in registry."
// when the key may not be written or the write failed.
int SetHost(const std::string& host);
int SetPort(int32_t port);
int SetMyNumber(const std::string& number);
int SetFirstName(const std::string& name);
int SetLastName(const std::string& name);

// The system's description of a Win32 error (as a rule ending in CR LF), or nothing: the reason
// that follows our registry messages.
std::string SystemErrorText(long error);

// Creates (or opens) the settings key with full access into *key. On failure tells the user
// "Cannot create key in registry." plus the system's description and returns 0.
int CreateSettingsKey(win::RegKey* key);
