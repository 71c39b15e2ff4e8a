#pragma once
// The settings of a reminder call, kept in the current user's registry. Nothing is cached: each
// reminder call opens the key for its reads (CallSettingsReader), and every other read or write
// opens it for its one value, so a setting saved in the Setup dialog applies to the very next call
// request.
#include <cstdint>
#include <string>

#include "agent/calls/outcome.h"
#include "common/settings_key.h"
#include "common/win/handles.h"

// The key, under HKEY_CURRENT_USER, and its values are described in common/settings_key.h. Texts
// are REG_SZ or REG_EXPAND_SZ (expanded when read: administrators deploy per-user values that
// way); the port is a REG_DWORD or a text of decimal digits.
//
// The gateway's host and port may also be set by group policy, under
// Software\Policies\Brisomel\tarnwick\1.0 of HKEY_LOCAL_MACHINE and of HKEY_CURRENT_USER, with
// the same names and types: a policy value wins over the user's own, the machine's over the
// user's policy, each value on its own. A policy value that cannot be used is told as a user's
// value is, never replaced by the user's value or a default.

// The most characters a text setting holds (what Setup takes).
constexpr int kMaxHostChars = 1023;
constexpr int kMaxTextChars = 259;  // my number, first and last name

// Reading for a call: Done with the value (its default when the value is missing), or Failed with
// what the user reads, and then nothing may be sent: the settings key is missing or cannot be
// read, the value is of a type that cannot hold the setting, a text is longer than Setup takes,
// or the port is no whole number from 1 to 65535. Texts come as UTF-8.
Outcome ReadHost(std::string* host);
Outcome ReadPort(uint16_t* port);
Outcome ReadMyNumber(std::string* number);
Outcome ReadFirstName(std::string* name);
Outcome ReadLastName(std::string* name);

// The settings key, opened for reading; `opened` is the system's answer to the opening.
struct SettingsKeyForReading {
  SettingsKeyForReading();
  win::RegKey key;
  long opened;
};

// The two policy keys, opened for reading; a key that does not exist (no policy) stays closed.
struct PolicyKeysForReading {
  PolicyKeysForReading();
  win::RegKey machine;
  win::RegKey user;
};

// The reads above, for one reminder call: the keys are opened once, for all of them. A missing or
// unreadable settings key is told by each read, as above.
class CallSettingsReader {
 public:
  Outcome Host(std::string* host) const;
  Outcome Port(uint16_t* port) const;
  Outcome MyNumber(std::string* number) const;
  Outcome FirstName(std::string* name) const;
  Outcome LastName(std::string* name) const;

 private:
  PolicyKeysForReading policies_;
  SettingsKeyForReading key_;
};

// Whether a reminder call left only on a mailbox is told to the user (voicemailnotice: a policy's
// value, else the user's own; only a REG_DWORD 0 silences it, so that nothing unreadable keeps a
// missed reminder from the user). Read at each call's end, never cached.
bool TellsVoicemail();

// What the user reads when the settings key is missing.
extern const char kSettingsMissingText[];

// For showing and editing the settings (the view, Setup): never fail and never create the key.
// A value that cannot be read (see above) yields its default ("localhost", 8155, empty text);
// texts come in the ANSI code page, the port as stored (it may lie outside 1 to 65535).
std::string GetHost();
int32_t GetPort();
std::string GetMyNumber();
std::string GetFirstName();
std::string GetLastName();

// What group policy says of the gateway, for the view and Setup: whether a policy sets the host
// and the port (GetHost and GetPort then give the policy's), and whether the user may change them
// in Setup. A lock value that is not a REG_DWORD of 4 bytes locks, and `problem` says why.
struct GatewayPolicy {
  bool host = false;
  bool port = false;
  bool locked = false;
  std::string problem;
};
GatewayPolicy ReadGatewayPolicy();

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
