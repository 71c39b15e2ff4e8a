#pragma once
// A whole registry key tree read into memory, to compare registrations exactly.
#include <windows.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace addin_test {

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<unsigned char> bytes;
  bool operator==(const RegistryValue& o) const { return type == o.type && bytes == o.bytes; }
};
void PrintTo(const RegistryValue& value, std::ostream* out);

RegistryValue Sz(const std::string& text);  // REG_SZ with its terminating NUL
RegistryValue Dword(DWORD value);           // REG_DWORD, 4 bytes little-endian

// Key path relative to the tree's top ("" for the top itself) -> value name ("" for the
// default value) -> value.
using RegistryTree = std::map<std::string, std::map<std::string, RegistryValue>>;

// Empty when the key does not exist.
RegistryTree ReadTree(HKEY root, const std::string& key);

}  // namespace addin_test
