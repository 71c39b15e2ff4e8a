#pragma once
// The one description of the per-user settings key that the agent, the add-in, the installer
// (installer/product.nsh, checked against this by a test) and the tools share: where it lives,
// what its values are called and what a missing value means. Plain constexpr data, no runtime
// library needed: the add-in is built without the C++ runtime.
#include <cstdint>

namespace settings_key {

// Under HKEY_CURRENT_USER; narrow for the ANSI registry calls, wide for the add-in's.
#define BRISOMEL_SETTINGS_KEY_PATH "Software\\Brisomel\\tarnwick\\1.0"
constexpr char kPath[] = BRISOMEL_SETTINGS_KEY_PATH;
constexpr wchar_t kPathW[] = L"" BRISOMEL_SETTINGS_KEY_PATH;
#undef BRISOMEL_SETTINGS_KEY_PATH

// The five settings of a call (REG_SZ, except the REG_DWORD port).
constexpr char kHost[] = "host";
constexpr char kPort[] = "port";
constexpr char kMyNumber[] = "mynumber";
constexpr char kFirstName[] = "firstname";
constexpr char kLastName[] = "lastname";
// REG_DWORD, by the user or by policy: 0 when a reminder call that reached only a mailbox is
// not to be told; missing (or anything else) tells it.
constexpr char kVoicemailNotice[] = "voicemailnotice";
// The agent's full file name (REG_SZ), written at every visible start, read by the add-in.
constexpr char kProgramPath[] = "path";
constexpr wchar_t kProgramPathW[] = L"path";

// Group policy: an administrator's values, under HKEY_LOCAL_MACHINE (the machine's, which wins)
// and HKEY_CURRENT_USER (the user's), same names and types as the user's own `host` and `port`.
constexpr char kPolicyPath[] = "Software\\Policies\\Brisomel\\tarnwick\\1.0";
// REG_DWORD: not 0 when users may not change the gateway's host and port in Setup.
constexpr char kLockGateway[] = "lockgateway";

// Under HKEY_LOCAL_MACHINE, a per-machine installation's `path`: the program the add-in starts
// for a user whose own settings name none (the key path of the user's settings, in the registry
// view of each add-in).

// What a missing value stands for; the texts of the number and the names default to empty.
constexpr char kDefaultHost[] = "localhost";
constexpr int32_t kDefaultPort = 8155;

}  // namespace settings_key
