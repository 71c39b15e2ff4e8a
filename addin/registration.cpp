#include "addin/registration.h"

#include <cwchar>

#include "addin/addin.h"
#include "addin/key_path.h"
#include "common/win/handles.h"

namespace {

constexpr std::size_t kKeyPathCapacity = 1024;
constexpr DWORD kSubKeyNameCapacity = 256;  // registry key names are at most 255 characters

// Key paths and the add-in's own texts are ASCII: widened character by character into a fixed
// buffer, so that the COM entry points never allocate or throw.
class Wide {
 public:
  explicit Wide(const char* ascii) {
    std::size_t i = 0;
    for (; ascii[i] && i + 1 < kKeyPathCapacity; ++i) text_[i] = static_cast<wchar_t>(static_cast<unsigned char>(ascii[i]));
    text_[i] = L'\0';
  }
  const wchar_t* c_str() const { return text_; }

 private:
  wchar_t text_[kKeyPathCapacity];
};

LONG CreateKey(HKEY root, const char* path, win::RegKey* key) {
  return key->Create(root, Wide(path).c_str(), KEY_SET_VALUE);
}

LONG SetString(HKEY key, const wchar_t* name, const wchar_t* text) {
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t)));
}

LONG SetDword(HKEY key, const wchar_t* name, DWORD value) {
  return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

}  // namespace

LONG CreateKeyWithDefault(HKEY root, const char* keyPath, const char* subKey, const wchar_t* text) {
  char path[kKeyPathCapacity];
  if (!JoinKeyPath({keyPath, subKey ? subKey : ""}, path, sizeof path)) return ERROR_BUFFER_OVERFLOW;
  win::RegKey key;
  const LONG created = CreateKey(root, path, &key);
  return created != ERROR_SUCCESS ? created : SetString(key.get(), nullptr, text);
}

LONG RegisterAddinClass(HKEY classesRoot, const wchar_t* modulePath) {
  char classKey[kKeyPathCapacity];
  if (!ClassKeyPath(kClsidAddinText, classKey, sizeof classKey)) return ERROR_BUFFER_OVERFLOW;
  const Wide description(kAddinDescription);
  const Wide progId(kAddinProgId);
  const Wide clsid(kClsidAddinText);
  LONG error = CreateKeyWithDefault(classesRoot, classKey, nullptr, description.c_str());
  if (error == ERROR_SUCCESS) error = CreateKeyWithDefault(classesRoot, classKey, "InprocServer32", modulePath);
  if (error == ERROR_SUCCESS) error = CreateKeyWithDefault(classesRoot, classKey, "ProgID", progId.c_str());
  if (error == ERROR_SUCCESS) error = CreateKeyWithDefault(classesRoot, kAddinProgId, nullptr, description.c_str());
  if (error == ERROR_SUCCESS) error = CreateKeyWithDefault(classesRoot, kAddinProgId, "CLSID", clsid.c_str());
  return error;
}

LONG RegisterOfficeAddin(const char* host, const char* progId, const char* description,
                         DWORD loadBehavior) {
  char path[kKeyPathCapacity];
  if (!OfficeAddinKeyPath(host, progId, path, sizeof path)) return ERROR_BUFFER_OVERFLOW;
  win::RegKey key;
  LONG error = CreateKey(HKEY_CURRENT_USER, path, &key);
  if (error != ERROR_SUCCESS) return error;
  const Wide text(description);
  error = SetDword(key.get(), L"LoadBehavior", loadBehavior);
  if (error == ERROR_SUCCESS) error = SetDword(key.get(), L"CommandLineSafe", 0);
  if (error == ERROR_SUCCESS) error = SetString(key.get(), L"FriendlyName", text.c_str());
  if (error == ERROR_SUCCESS) error = SetString(key.get(), L"Description", text.c_str());
  return error;
}

LONG UnregisterOfficeAddin(const char* host, const char* progId) {
  char path[kKeyPathCapacity];
  if (!OfficeAddinKeyPath(host, progId, path, sizeof path)) return ERROR_BUFFER_OVERFLOW;
  return DeleteKeyTree(HKEY_CURRENT_USER, path);
}

namespace {

LONG DeleteKeyTreeW(HKEY parent, const wchar_t* name) {
  win::RegKey key;
  const LONG opened = key.Open(parent, name, KEY_ALL_ACCESS);
  if (opened != ERROR_SUCCESS) return opened;
  // Always enumerate index 0: each deleted child moves the next one there.
  for (;;) {
    wchar_t child[kSubKeyNameCapacity];
    DWORD childLength = kSubKeyNameCapacity;
    FILETIME lastWrite;
    if (::RegEnumKeyExW(key.get(), 0, child, &childLength, nullptr, nullptr, nullptr,
                        &lastWrite) != ERROR_SUCCESS) {
      break;
    }
    const LONG deleted = DeleteKeyTreeW(key.get(), child);
    if (deleted != ERROR_SUCCESS) return deleted;
  }
  key.reset();
  return ::RegDeleteKeyW(parent, name);
}

}  // namespace

LONG DeleteKeyTree(HKEY parent, const char* name) { return DeleteKeyTreeW(parent, Wide(name).c_str()); }
