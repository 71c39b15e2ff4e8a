#include "tests/installer/registry_view.h"

#include "common/win/handles.h"

namespace installer_test {

namespace {

REGSAM Flag(View view) { return view == View::k64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

win::RegKey Open(View view, HKEY root, const std::string& key, REGSAM access) {
  win::RegKey k;
  k.Open(root, key.c_str(), access | Flag(view));
  return k;
}

}  // namespace

const char* ViewName(View view) { return view == View::k64 ? "64-bit view" : "32-bit view"; }

bool Is64BitWindows() {
  BOOL wow64 = FALSE;
  return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

std::vector<View> Views() {
  if (Is64BitWindows()) return {View::k32, View::k64};
  return {View::k32};
}

bool WriteTextIn(View view, HKEY root, const std::string& key, const char* name, const std::string& text) {
  win::RegKey k;
  if (k.Create(root, key.c_str(), KEY_SET_VALUE | Flag(view)) != ERROR_SUCCESS) return false;
  return RegSetValueExA(k.get(), name && *name ? name : nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

harness::RegValue ReadValueIn(View view, HKEY root, const std::string& key, const char* name) {
  harness::RegValue v;
  win::RegKey k = Open(view, root, key, KEY_QUERY_VALUE);
  if (!k) return v;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(k.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return v;
  v.bytes.resize(size);
  if (RegQueryValueExA(k.get(), name, nullptr, &type, v.bytes.empty() ? nullptr : v.bytes.data(), &size) !=
      ERROR_SUCCESS) {
    v.bytes.clear();
    return v;
  }
  v.bytes.resize(size);
  v.exists = true;
  v.type = type;
  return v;
}

bool KeyExistsIn(View view, HKEY root, const std::string& key) {
  return static_cast<bool>(Open(view, root, key, KEY_READ));
}

std::vector<std::string> SubkeyNamesIn(View view, HKEY root, const std::string& key) {
  std::vector<std::string> names;
  win::RegKey k = Open(view, root, key, KEY_READ);
  if (!k) return names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(k.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

std::vector<std::string> ValueNamesIn(View view, HKEY root, const std::string& key) {
  std::vector<std::string> names;
  win::RegKey k = Open(view, root, key, KEY_READ);
  if (!k) return names;
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD length = sizeof name;
    if (RegEnumValueA(k.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

bool DeleteTreeIn(View view, HKEY root, const std::string& key) {
  const size_t slash = key.find_last_of('\\');
  if (key.empty() || slash == std::string::npos) return false;  // never a whole root or hive
  {
    win::RegKey parent = Open(view, root, key.substr(0, slash), KEY_ALL_ACCESS);
    if (parent) RegDeleteTreeA(parent.get(), key.substr(slash + 1).c_str());
  }
  RegDeleteKeyExA(root, key.c_str(), Flag(view), 0);
  return !KeyExistsIn(view, root, key);
}

bool UserClassesShareViews() {
  if (!Is64BitWindows()) return true;
  const std::string probe = "Software\\Classes\\CLSID\\{5C0FFEE0-8E1B-4F2A-9D3C-7B6A5E4D3C2B}";
  win::RegKey created;
  if (created.Create(HKEY_CURRENT_USER, probe.c_str(), KEY_ALL_ACCESS | KEY_WOW64_32KEY) != ERROR_SUCCESS) {
    return false;
  }
  created.reset();
  const bool shared = KeyExistsIn(View::k64, HKEY_CURRENT_USER, probe);
  DeleteTreeIn(View::k32, HKEY_CURRENT_USER, probe);
  DeleteTreeIn(View::k64, HKEY_CURRENT_USER, probe);
  return shared;
}

}  // namespace installer_test
