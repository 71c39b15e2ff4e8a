#pragma once
// The settings of a reminder call, kept in the current user's registry. Nothing is cached: every
// call opens the key, reads or writes one value and closes it again, so a setting saved in the
// Setup dialog applies to the very next call request.
#include <cstdint>
#include <string>

#include "agent/calls/outcome.h"
#include "common/settings_key.h"
#include "common/win/handles.h"

// The key, under HKEY_CURRENT_USER, and its values are described in common/settings_key.h.

// Getters never fail and never create the key: a value that cannot be read yields its default
// ("localhost", 8155, empty text).
std::string GetHost();
int32_t GetPort();
std::string GetMyNumber();
std::string GetFirstName();
std::string GetLastName();

// Getters open the key for reading only. Setters fail, with the message for the user and the
// system's reason after it, when the value was not written: "Cannot create key in registry." when
// the key is missing and cannot be created, "Cannot save setting in registry." when the key may
// not be written or the write failed.
Outcome SetHost(const std::string& host);
Outcome SetPort(int32_t port);
Outcome SetMyNumber(const std::string& number);
Outcome SetFirstName(const std::string& name);
Outcome SetLastName(const std::string& name);

// The system's description of a Win32 error (as a rule ending in CR LF), or nothing: the reason
// that follows our registry messages.
std::string SystemErrorText(long error);

// Creates (or opens) the settings key with full access into *key. Fails with "Cannot create key
// in registry." plus the system's description.
Outcome CreateSettingsKey(win::RegKey* key);
