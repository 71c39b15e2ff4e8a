#include "agent/calls/settings_store.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "agent/calls/text_encoding.h"
#include "agent/framework/ole/ole_text.h"
#include "common/settings_key.h"
#include "common/wide_text.h"

std::string SystemErrorText(long error) {
  char description[1024] = {};
  if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(error), 0x0400, description, sizeof description,
                     nullptr) == 0) {
    return std::string();
  }
  return description;
}

namespace {

// No setting is anywhere near this long: a larger value is not read, only judged by its size.
constexpr DWORD kMaxValueBytes = 64 * 1024;

const char kCorrectIt[] = " Correct it in File > Setup.";
constexpr size_t kMaxPortChars = 32;  // digits and blanks

WideText WideName(const char* name) {
  WideText wide;
  for (; *name; ++name) wide += static_cast<wchar_t>(*name);
  return wide;
}

std::string Utf8(const WideText& text) {
  return Utf16ToUtf8(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "type " + std::to_string(type);
  }
}

const char kAskAdministrator[] = " Ask your administrator to correct it.";

// A value as the user reads of it: its name and where it is (the user's settings, or an
// administrator's policy under the root named), and who can correct it.
struct ValueName {
  const char* name;
  const char* policyRoot = nullptr;  // "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER" for a policy value

  std::string Subject() const {
    if (!policyRoot) return std::string("The Brisomel setting \"") + name + "\"";
    return std::string("The Brisomel policy setting \"") + name + "\" (" + policyRoot + "\\" +
           settings_key::kPolicyPath + ")";
  }
  const char* Correction() const { return policyRoot ? kAskAdministrator : kCorrectIt; }
};

// A value as stored. Done with found false when the key exists without it; Failed when the key
// is missing or cannot be read.
struct StoredValue {
  bool found = false;
  DWORD type = REG_NONE;
  DWORD size = 0;                 // as stored
  std::vector<unsigned char> bytes;  // empty when larger than kMaxValueBytes
};

// The value in an open key (null: a key that does not exist, so no value either).
Outcome QueryValue(HKEY key, const char* name, StoredValue* value,
                   const char* cannotRead = "Cannot read the Brisomel settings in the registry.") {
  *value = StoredValue();
  if (!key) return Outcome::Done();
  const WideText wideName = WideName(name);
  // One read for a value of ordinary size; a larger one is read again at the size it gave, and
  // may change between the reads: a few tries.
  DWORD capacity = 1024;
  for (int attempt = 0; attempt < 3; ++attempt) {
    value->bytes.assign(capacity, 0);
    DWORD size = capacity;
    const LONG error = RegQueryValueExW(key, wideName.c_str(), nullptr, &value->type, value->bytes.data(), &size);
    if (error == ERROR_FILE_NOT_FOUND) {
      *value = StoredValue();
      return Outcome::Done();
    }
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) return Outcome::Failed(cannotRead + SystemErrorText(error));
    value->found = true;
    value->size = size;
    if (error == ERROR_SUCCESS) {
      value->bytes.resize(size);
      return Outcome::Done();
    }
    if (size > kMaxValueBytes) {
      value->bytes.clear();
      return Outcome::Done();
    }
    capacity = size;
  }
  return Outcome::Failed(cannotRead);
}

Outcome QueryStored(const SettingsKeyForReading& key, const char* name, StoredValue* value) {
  if (key.opened == ERROR_FILE_NOT_FOUND) return Outcome::Failed(kSettingsMissingText);
  if (key.opened != ERROR_SUCCESS) {
    return Outcome::Failed("Cannot read the Brisomel settings in the registry." + SystemErrorText(key.opened));
  }
  return QueryValue(key.key.get(), name, value);
}

std::string TooLong(const ValueName& name, size_t maxChars) {
  return name.Subject() + " is longer than " + std::to_string(maxChars) + " characters." + name.Correction();
}

// The text with its environment variables expanded, as Windows does for REG_EXPAND_SZ.
Outcome Expand(const ValueName& name, WideText* text) {
  WideText expanded(text->size() + 1, L'\0');
  for (;;) {
    const DWORD needed = ExpandEnvironmentStringsW(text->c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
    if (needed == 0) {
      return Outcome::Failed(name.Subject() + " cannot be expanded." + SystemErrorText(static_cast<long>(GetLastError())));
    }
    if (needed <= expanded.size()) {
      expanded.resize(needed - 1);
      *text = expanded;
      return Outcome::Done();
    }
    expanded.assign(needed, L'\0');
  }
}

// The text of a REG_SZ or REG_EXPAND_SZ value (expanded), up to its first NUL, at most maxChars.
Outcome TextOfValue(const ValueName& name, const StoredValue& value, size_t maxChars, WideText* text) {
  text->clear();
  if (value.size > kMaxValueBytes) return Outcome::Failed(TooLong(name, maxChars));
  const wchar_t* data = reinterpret_cast<const wchar_t*>(value.bytes.data());
  const size_t units = value.bytes.size() / sizeof(wchar_t);
  size_t length = 0;
  while (length < units && data[length] != L'\0') ++length;
  text->assign(data, length);
  if (value.type == REG_EXPAND_SZ && !text->empty()) {
    const Outcome expanded = Expand(name, text);
    if (!expanded) return expanded;
  }
  return text->size() > maxChars ? Outcome::Failed(TooLong(name, maxChars)) : Outcome::Done();
}

// The text of a value that exists, or Failed with why it cannot be used.
Outcome TextOfSetting(const ValueName& name, const StoredValue& value, size_t maxChars, WideText* text) {
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) {
    return Outcome::Failed(name.Subject() + " is stored as " + TypeName(value.type) + ", not as text." + name.Correction());
  }
  return TextOfValue(name, value, maxChars, text);
}

// The number of a port value that exists, unchecked, or Failed with why it cannot be used.
Outcome PortOfSetting(const ValueName& name, const StoredValue& value, int64_t* port) {
  if (value.type == REG_DWORD) {
    if (value.size != sizeof(DWORD)) {
      return Outcome::Failed(name.Subject() + " is a REG_DWORD of " + std::to_string(value.size) + " bytes, not 4." +
                             name.Correction());
    }
    const auto byte = [&value](int i) { return static_cast<uint32_t>(value.bytes[static_cast<size_t>(i)]); };
    *port = static_cast<int32_t>(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
    return Outcome::Done();
  }
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) {
    return Outcome::Failed(name.Subject() + " is stored as " + TypeName(value.type) +
                           ", not as a REG_DWORD or a number in text." + name.Correction());
  }
  // Decimal digits, blanks around them allowed (as typed into a registry editor).
  const Outcome notANumber = Outcome::Failed(name.Subject() + " is not a whole number." + name.Correction());
  WideText text;
  if (!TextOfValue(name, value, kMaxPortChars, &text)) return notANumber;
  const size_t begin = text.find_first_not_of(L" \t");
  const size_t end = text.find_last_not_of(L" \t");
  const WideText digits = begin == WideText::npos ? WideText() : text.substr(begin, end - begin + 1);
  if (digits.empty() || digits.find_first_not_of(L"0123456789") != WideText::npos) {
    return notANumber;
  }
  const size_t significant = std::min(digits.find_first_not_of(L'0'), digits.size() - 1);
  *port = 0;
  for (size_t i = significant; i < digits.size(); ++i) {
    *port = std::min<int64_t>(*port * 10 + (digits[i] - L'0'), INT64_C(1) << 40);  // far above any port
  }
  return Outcome::Done();
}

// A policy value that exists, with the name the user reads it by; found false when no policy sets
// it. The machine's policy wins over the user's, as for Windows' own policies.
struct PolicyLookup {
  bool found = false;
  ValueName name{nullptr};
  StoredValue value;
};

Outcome LookUpPolicy(const PolicyKeysForReading& policies, const char* name, PolicyLookup* lookup) {
  *lookup = PolicyLookup();
  const struct {
    HKEY key;
    const char* rootName;
  } sources[] = {{policies.machine.get(), "HKEY_LOCAL_MACHINE"}, {policies.user.get(), "HKEY_CURRENT_USER"}};
  for (const auto& source : sources) {
    const Outcome read =
        QueryValue(source.key, name, &lookup->value, "Cannot read the Brisomel policy settings in the registry.");
    if (!read) return read;
    if (lookup->value.found) {
      lookup->found = true;
      lookup->name = ValueName{name, source.rootName};
      return Outcome::Done();
    }
  }
  return Outcome::Done();
}

// A text setting: the policy's value when one is set, else the user's; Done with its text
// (fallback when missing), or Failed with why it cannot be used.
Outcome ReadTextSetting(const PolicyKeysForReading* policies, const SettingsKeyForReading& key, const char* name,
                        size_t maxChars, const char* fallback, WideText* text) {
  if (policies) {
    PolicyLookup policy;
    const Outcome looked = LookUpPolicy(*policies, name, &policy);
    if (!looked) return looked;
    if (policy.found) return TextOfSetting(policy.name, policy.value, maxChars, text);
  }
  StoredValue value;
  Outcome read = QueryStored(key, name, &value);
  if (!read) return read;
  if (!value.found) {
    *text = WideName(fallback);
    return Outcome::Done();
  }
  return TextOfSetting(ValueName{name}, value, maxChars, text);
}

// The port, the policy's when one is set, as stored, unchecked: Done with the number (the default
// when missing), or Failed. *policySubject names the policy value it came from, or is empty.
Outcome ReadPortSetting(const PolicyKeysForReading& policies, const SettingsKeyForReading& key, int64_t* port,
                        std::string* policySubject) {
  PolicyLookup policy;
  const Outcome looked = LookUpPolicy(policies, settings_key::kPort, &policy);
  if (!looked) return looked;
  if (policy.found) {
    *policySubject = policy.name.Subject();
    return PortOfSetting(policy.name, policy.value, port);
  }
  policySubject->clear();
  StoredValue value;
  Outcome read = QueryStored(key, settings_key::kPort, &value);
  if (!read) return read;
  if (!value.found) {
    *port = settings_key::kDefaultPort;
    return Outcome::Done();
  }
  return PortOfSetting(ValueName{settings_key::kPort}, value, port);
}

Outcome WriteValue(const char* name, DWORD type, const void* data, DWORD size) {
  win::RegKey key;
  // A key that exists but may not be written (IT made it read-only) fails with its reason.
  LONG error = key.Open(HKEY_CURRENT_USER, settings_key::kPath, KEY_SET_VALUE);
  if (error == ERROR_FILE_NOT_FOUND) {
    Outcome created = CreateSettingsKey(&key);
    if (!created) return created;
    error = ERROR_SUCCESS;
  }
  if (error == ERROR_SUCCESS) {
    error = RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
  }
  if (error != ERROR_SUCCESS) {
    // What the user typed was not kept: say so, with the system's reason.
    return Outcome::Failed("Cannot save setting in registry." + SystemErrorText(error));
  }
  return Outcome::Done();
}

Outcome WriteText(const char* name, const std::string& text) {
  return WriteValue(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

}  // namespace

const char kSettingsMissingText[] =
    "The Brisomel settings are missing from the registry. Start Brisomel from the Start menu and enter them in "
    "File > Setup.";

// For reading only: a key that IT deployed read-only must still be read, not fall back to the
// defaults. Never creates the key; a failure to open it is told by each read.
SettingsKeyForReading::SettingsKeyForReading()
    : opened(key.Open(HKEY_CURRENT_USER, settings_key::kPath, KEY_QUERY_VALUE)) {}

// A policy key that does not exist (no policy set) stays closed.
PolicyKeysForReading::PolicyKeysForReading() {
  machine.Open(HKEY_LOCAL_MACHINE, settings_key::kPolicyPath, KEY_QUERY_VALUE);
  user.Open(HKEY_CURRENT_USER, settings_key::kPolicyPath, KEY_QUERY_VALUE);
}

namespace {

Outcome ReadText(const PolicyKeysForReading* policies, const SettingsKeyForReading& key, const char* name,
                 size_t maxChars, const char* fallback, std::string* utf8) {
  WideText text;
  const Outcome read = ReadTextSetting(policies, key, name, maxChars, fallback, &text);
  *utf8 = read ? Utf8(text) : std::string();
  return read;
}

std::string GetText(const PolicyKeysForReading* policies, const char* name, size_t maxChars, const char* fallback) {
  WideText text;
  return ReadTextSetting(policies, SettingsKeyForReading(), name, maxChars, fallback, &text)
             ? fw::WideToAnsi(text.data(), text.size())
             : fallback;
}

}  // namespace

Outcome CallSettingsReader::Host(std::string* host) const {
  return ReadText(&policies_, key_, settings_key::kHost, kMaxHostChars, settings_key::kDefaultHost, host);
}
Outcome CallSettingsReader::MyNumber(std::string* number) const {
  return ReadText(nullptr, key_, settings_key::kMyNumber, kMaxTextChars, "", number);
}
Outcome CallSettingsReader::FirstName(std::string* name) const {
  return ReadText(nullptr, key_, settings_key::kFirstName, kMaxTextChars, "", name);
}
Outcome CallSettingsReader::LastName(std::string* name) const {
  return ReadText(nullptr, key_, settings_key::kLastName, kMaxTextChars, "", name);
}

Outcome CallSettingsReader::Port(uint16_t* port) const {
  int64_t stored = 0;
  std::string policy;
  Outcome read = ReadPortSetting(policies_, key_, &stored, &policy);
  if (!read) return read;
  // A number that is no port is reported, never cut to 16 bits (which would call whatever
  // listens on the port left over).
  if (stored < 1 || stored > 65535) {
    if (!policy.empty()) {
      return Outcome::Failed(policy + " is " + std::to_string(stored) + ", not a port between 1 and 65535." +
                             kAskAdministrator);
    }
    return Outcome::Failed("The Talmery Gateway port " + std::to_string(stored) +
                           " is not between 1 and 65535. Correct it in File > Setup.");
  }
  *port = static_cast<uint16_t>(stored);
  return Outcome::Done();
}

Outcome ReadHost(std::string* host) { return CallSettingsReader().Host(host); }
Outcome ReadPort(uint16_t* port) { return CallSettingsReader().Port(port); }
Outcome ReadMyNumber(std::string* number) { return CallSettingsReader().MyNumber(number); }
Outcome ReadFirstName(std::string* name) { return CallSettingsReader().FirstName(name); }
Outcome ReadLastName(std::string* name) { return CallSettingsReader().LastName(name); }

std::string GetHost() {
  const PolicyKeysForReading policies;
  return GetText(&policies, settings_key::kHost, kMaxHostChars, settings_key::kDefaultHost);
}
std::string GetMyNumber() { return GetText(nullptr, settings_key::kMyNumber, kMaxTextChars, ""); }
std::string GetFirstName() { return GetText(nullptr, settings_key::kFirstName, kMaxTextChars, ""); }
std::string GetLastName() { return GetText(nullptr, settings_key::kLastName, kMaxTextChars, ""); }

int32_t GetPort() {
  int64_t stored = 0;
  std::string policy;
  if (!ReadPortSetting(PolicyKeysForReading(), SettingsKeyForReading(), &stored, &policy) || stored > INT32_MAX) {
    return settings_key::kDefaultPort;
  }
  return static_cast<int32_t>(stored);
}

GatewayPolicy ReadGatewayPolicy() {
  const PolicyKeysForReading policies;
  GatewayPolicy gateway;
  PolicyLookup lookup;
  gateway.host = LookUpPolicy(policies, settings_key::kHost, &lookup) && lookup.found;
  gateway.port = LookUpPolicy(policies, settings_key::kPort, &lookup) && lookup.found;
  const Outcome looked = LookUpPolicy(policies, settings_key::kLockGateway, &lookup);
  if (!looked) {
    gateway.locked = true;
    gateway.problem = looked.Message();
  } else if (lookup.found) {
    // Anything but a REG_DWORD is told, and locks: the administrator meant something by it.
    const StoredValue& value = lookup.value;
    if (value.type != REG_DWORD || value.size != sizeof(DWORD)) {
      gateway.locked = true;
      gateway.problem = lookup.name.Subject() + " is stored as " +
                        (value.type == REG_DWORD ? "a REG_DWORD of " + std::to_string(value.size) + " bytes"
                                                 : TypeName(value.type)) +
                        ", not as a REG_DWORD of 4 bytes." + kAskAdministrator;
    } else {
      gateway.locked = (value.bytes[0] | value.bytes[1] | value.bytes[2] | value.bytes[3]) != 0;
    }
  }
  return gateway;
}

bool TellsVoicemail() {
  const auto silenced = [](const StoredValue& value) {
    return value.type == REG_DWORD && value.size == sizeof(DWORD) &&
           (value.bytes[0] | value.bytes[1] | value.bytes[2] | value.bytes[3]) == 0;
  };
  PolicyLookup policy;
  if (LookUpPolicy(PolicyKeysForReading(), settings_key::kVoicemailNotice, &policy) && policy.found)
    return !silenced(policy.value);
  const SettingsKeyForReading key;
  StoredValue own;
  return !(key.opened == ERROR_SUCCESS && QueryValue(key.key.get(), settings_key::kVoicemailNotice, &own) && own.found &&
           silenced(own));
}

Outcome SetHost(const std::string& host) { return WriteText(settings_key::kHost, host); }
Outcome SetMyNumber(const std::string& number) { return WriteText(settings_key::kMyNumber, number); }
Outcome SetFirstName(const std::string& name) { return WriteText(settings_key::kFirstName, name); }
Outcome SetLastName(const std::string& name) { return WriteText(settings_key::kLastName, name); }

Outcome SetPort(int32_t port) {
  const uint32_t value = static_cast<uint32_t>(port);
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  return WriteValue(settings_key::kPort, REG_DWORD, bytes, sizeof bytes);
}

Outcome CreateSettingsKey(win::RegKey* key) {
  DWORD disposition = 0;
  const LONG error = key->Create(HKEY_CURRENT_USER, settings_key::kPath, KEY_ALL_ACCESS, &disposition);
  if (error == ERROR_SUCCESS) return Outcome::Done();
  return Outcome::Failed("Cannot create key in registry." + SystemErrorText(error));
}
