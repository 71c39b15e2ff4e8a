#include "agent/calls/settings_store.h"

#include <windows.h>

#include <vector>

#include "common/settings_key.h"

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

constexpr DWORD kHostCapacity = 1024;
constexpr DWORD kNameCapacity = 260;  // my number, first and last name

// For reading only: a key that IT deployed read-only must still be read, not fall back to the
// defaults. Never creates the key.
win::RegKey OpenSettingsKeyForReading() {
  win::RegKey key;
  key.Open(HKEY_CURRENT_USER, settings_key::kPath, KEY_QUERY_VALUE);
  return key;
}

// The value's data, if it fits into capacity bytes. The stored type is not examined.
bool ReadValue(const char* name, DWORD capacity, std::vector<char>& data) {
  const win::RegKey key = OpenSettingsKeyForReading();
  if (!key) return false;
  data.assign(capacity, '\0');
  DWORD size = capacity;
  if (RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                       &size) != ERROR_SUCCESS) {
    return false;
  }
  data.resize(size < capacity ? size : capacity);
  return true;
}

std::string ReadText(const char* name, DWORD capacity, const char* fallback) {
  std::vector<char> data;
  if (!ReadValue(name, capacity, data)) return fallback;
  // Up to the first NUL, or all of it: a value written without its NUL must not be overrun.
  std::string text(data.begin(), data.end());
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.erase(nul);
  return text;
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

std::string GetHost() { return ReadText(settings_key::kHost, kHostCapacity, settings_key::kDefaultHost); }
std::string GetMyNumber() { return ReadText(settings_key::kMyNumber, kNameCapacity, ""); }
std::string GetFirstName() { return ReadText(settings_key::kFirstName, kNameCapacity, ""); }
std::string GetLastName() { return ReadText(settings_key::kLastName, kNameCapacity, ""); }

int32_t GetPort() {
  std::vector<char> data;
  // Fewer than four bytes are no port number either.
  if (!ReadValue(settings_key::kPort, sizeof(DWORD), data) || data.size() != sizeof(DWORD)) {
    return settings_key::kDefaultPort;
  }
  const auto byte = [&data](int i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(data[i]));
  };
  return static_cast<int32_t>(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
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
