#pragma once
// Direct registry access for tests: exact type and bytes of values, and clean keys per test.
#include <windows.h>

#include <string>
#include <vector>

namespace harness {

struct RegValue {
  bool exists = false;
  DWORD type = REG_NONE;
  std::vector<unsigned char> bytes;
};

// name nullptr or "" reads the key's default value.
RegValue ReadValue(HKEY root, const std::string& key, const char* name);
bool KeyExists(HKEY root, const std::string& key);
// Deletes the key with all subkeys and values; true when it is gone afterwards.
bool DeleteTree(HKEY root, const std::string& key);
// Creates the key if needed and writes the value as given.
bool WriteValue(HKEY root, const std::string& key, const char* name, DWORD type,
                const std::vector<unsigned char>& bytes);
// Names of the direct subkeys / values of a key, in enumeration order.
std::vector<std::string> SubkeyNames(HKEY root, const std::string& key);
std::vector<std::string> ValueNames(HKEY root, const std::string& key);

// Expected bytes: a REG_SZ text with its terminating NUL, a little-endian REG_DWORD.
std::vector<unsigned char> SzBytes(const std::string& text);
std::vector<unsigned char> DwordBytes(DWORD value);

// Deletes the key tree when created and again when destroyed, so a test starts and leaves clean.
class ScopedRegistryKey {
 public:
  ScopedRegistryKey(HKEY root, std::string key);
  ~ScopedRegistryKey();
  ScopedRegistryKey(const ScopedRegistryKey&) = delete;
  ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;
  HKEY root() const { return root_; }
  const std::string& key() const { return key_; }

 private:
  HKEY root_;
  std::string key_;
};

// Gives an existing key an access list while it lives (SDDL, e.g. "D:P(A;;KR;;;WD)": read-only
// for everyone, as IT deploys settings) and full access again when it ends, so that the test can
// clean the key up.
class ScopedKeyAccess {
 public:
  ScopedKeyAccess(HKEY root, const std::string& key, const char* sddl);
  ~ScopedKeyAccess();
  ScopedKeyAccess(const ScopedKeyAccess&) = delete;
  ScopedKeyAccess& operator=(const ScopedKeyAccess&) = delete;
  bool Ok() const { return ok_; }

 private:
  bool Set(const char* sddl);

  HKEY key_ = nullptr;
  bool ok_ = false;
};

}  // namespace harness
