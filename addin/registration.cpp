#include "addin/registration.h"

#include <cstring>

#include "addin/key_path.h"
#include "agent/framework/handles.h"

namespace {

constexpr std::size_t kKeyPathCapacity = 1024;
constexpr DWORD kSubKeyNameCapacity = 256;  // registry key names are at most 255 characters

fw::RegKey CreateKey(HKEY root, const char* path) {
  fw::RegKey key;
  if (::RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
    key.release();  // nothing was opened
  }
  return key;
}

void SetString(HKEY key, const char* name, const char* text) {
  ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(std::strlen(text) + 1));
}

void SetDword(HKEY key, const char* name, DWORD value) {
  ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

}  // namespace

void CreateKeyWithDefault(HKEY root, const char* keyPath, const char* subKey, const char* text) {
  char path[kKeyPathCapacity];
  if (!JoinKeyPath({keyPath, subKey ? subKey : ""}, path, sizeof path)) return;
  if (fw::RegKey key = CreateKey(root, path)) SetString(key.get(), nullptr, text);
}

void RegisterOfficeAddin(const char* host, const char* progId, const char* description,
                         DWORD loadBehavior) {
  char path[kKeyPathCapacity];
  if (!OfficeAddinKeyPath(host, progId, path, sizeof path)) return;
  fw::RegKey key = CreateKey(HKEY_CURRENT_USER, path);
  if (!key) return;
  SetDword(key.get(), "LoadBehavior", loadBehavior);
  SetDword(key.get(), "CommandLineSafe", 0);
  SetString(key.get(), "FriendlyName", description);
  SetString(key.get(), "Description", description);
}

LONG UnregisterOfficeAddin(const char* host, const char* progId) {
  char path[kKeyPathCapacity];
  if (!OfficeAddinKeyPath(host, progId, path, sizeof path)) return ERROR_BUFFER_OVERFLOW;
  return DeleteKeyTree(HKEY_CURRENT_USER, path);
}

LONG DeleteKeyTree(HKEY parent, const char* name) {
  fw::RegKey key;
  const LONG opened = ::RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, key.put());
  if (opened != ERROR_SUCCESS) {
    key.release();
    return opened;
  }
  // Always enumerate index 0: each deleted child moves the next one there.
  for (;;) {
    char child[kSubKeyNameCapacity];
    DWORD childLength = kSubKeyNameCapacity;
    FILETIME lastWrite;
    if (::RegEnumKeyExA(key.get(), 0, child, &childLength, nullptr, nullptr, nullptr,
                        &lastWrite) != ERROR_SUCCESS) {
      break;
    }
    const LONG deleted = DeleteKeyTree(key.get(), child);
    if (deleted != ERROR_SUCCESS) return deleted;
  }
  key.reset();
  return ::RegDeleteKeyA(parent, name);
}
