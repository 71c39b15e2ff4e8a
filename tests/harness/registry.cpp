#include "tests/harness/registry.h"

#include <sddl.h>

#include <memory>

#include "common/win/handles.h"

namespace harness {

namespace {

win::RegKey Open(HKEY root, const std::string& key, REGSAM access) {
  win::RegKey k;
  k.Open(root, key.c_str(), access);
  return k;
}

}  // namespace

RegValue ReadValue(HKEY root, const std::string& key, const char* name) {
  RegValue v;
  win::RegKey k = Open(root, key, KEY_QUERY_VALUE);
  if (!k) return v;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(k.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return v;
  v.bytes.resize(size);
  // The value may change size between the two calls; the second call reports the real size.
  LONG rc = RegQueryValueExA(k.get(), name, nullptr, &type, v.bytes.empty() ? nullptr : v.bytes.data(),
                             &size);
  if (rc != ERROR_SUCCESS) {
    v.bytes.clear();
    return v;
  }
  v.bytes.resize(size);
  v.exists = true;
  v.type = type;
  return v;
}

bool KeyExists(HKEY root, const std::string& key) {
  return static_cast<bool>(Open(root, key, KEY_READ));
}

bool DeleteTree(HKEY root, const std::string& key) {
  if (key.empty()) return false;  // never the whole root
  RegDeleteTreeA(root, key.c_str());
  // RegDeleteTree leaves the key itself; remove it too.
  RegDeleteKeyA(root, key.c_str());
  return !KeyExists(root, key);
}

bool WriteValue(HKEY root, const std::string& key, const char* name, DWORD type,
                const std::vector<unsigned char>& bytes) {
  win::RegKey k;
  if (k.Create(root, key.c_str(), KEY_SET_VALUE) != ERROR_SUCCESS) return false;
  return RegSetValueExA(k.get(), name, 0, type, bytes.empty() ? nullptr : bytes.data(),
                        static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

std::vector<std::string> SubkeyNames(HKEY root, const std::string& key) {
  std::vector<std::string> names;
  win::RegKey k = Open(root, key, KEY_ENUMERATE_SUB_KEYS);
  if (!k) return names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD len = sizeof name;
    if (RegEnumKeyExA(k.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, len);
  }
  return names;
}

std::vector<std::string> ValueNames(HKEY root, const std::string& key) {
  std::vector<std::string> names;
  win::RegKey k = Open(root, key, KEY_QUERY_VALUE);
  if (!k) return names;
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD len = sizeof name;
    if (RegEnumValueA(k.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, len);
  }
  return names;
}

std::vector<unsigned char> SzBytes(const std::string& text) {
  std::vector<unsigned char> b(text.begin(), text.end());
  b.push_back(0);
  return b;
}

std::vector<unsigned char> DwordBytes(DWORD value) {
  return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
          static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

ScopedRegistryKey::ScopedRegistryKey(HKEY root, std::string key) : root_(root), key_(std::move(key)) {
  DeleteTree(root_, key_);
}

ScopedRegistryKey::~ScopedRegistryKey() { DeleteTree(root_, key_); }

ScopedKeyAccess::ScopedKeyAccess(HKEY root, const std::string& key, const char* sddl) {
  if (RegOpenKeyExA(root, key.c_str(), 0, WRITE_DAC, &key_) != ERROR_SUCCESS) {
    key_ = nullptr;
    return;
  }
  ok_ = Set(sddl);
}

ScopedKeyAccess::~ScopedKeyAccess() {
  if (!key_) return;
  Set("D:(A;;KA;;;WD)");
  RegCloseKey(key_);
}

bool ScopedKeyAccess::Set(const char* sddl) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &raw, nullptr)) return false;
  std::unique_ptr<void, decltype(&LocalFree)> descriptor(raw, &LocalFree);
  return RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, descriptor.get()) == ERROR_SUCCESS;
}

}  // namespace harness
