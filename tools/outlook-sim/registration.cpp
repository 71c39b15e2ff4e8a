#include "tools/outlook-sim/registration.h"

#include <windows.h>
#include <oleauto.h>

#include "common/win/handles.h"
#include "tools/outlook-sim/event_ids.h"
#include "tools/outlook-sim/script/sim_options.h"
#include "tools/outlook-sim/script/utf.h"
#include "tools/outlook-sim/type_library.h"

namespace sim {
namespace {

constexpr wchar_t kDescription[] = L"Outlook.Application (simulator)";
constexpr wchar_t kTypeLibFile[] = L"outlook-sim.tlb";

std::wstring Wide(const std::string& utf8) {
  std::u16string u16;
  Utf8ToUtf16(utf8, &u16);
  return std::wstring(u16.begin(), u16.end());
}

std::string Narrow(const std::wstring& w) {
  return Utf16ToUtf8(std::u16string(w.begin(), w.end()));
}

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring DirectoryOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// The library file goes into this Windows installation's own data folder, not beside the exe:
// several Windows installations (Wine prefixes running tests side by side) run one simulator
// file, and one's unregistration would delete the file another's registration names.
std::wstring MachineDataDirectory() {
  wchar_t buf[MAX_PATH + 1];
  const DWORD n = GetEnvironmentVariableW(L"ProgramData", buf, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) return std::wstring();
  std::wstring folder = std::wstring(buf, n) + L"\\Outlook simulator";
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return std::wstring();
  return folder + L"\\";
}

std::wstring TempDirectory() {
  wchar_t buf[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  return n == 0 || n > MAX_PATH ? std::wstring() : std::wstring(buf, n);
}

LONG SetDefault(HKEY root, const std::wstring& path, const std::wstring& value) {
  win::RegKey key;
  LONG rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, key.put(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  return RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// HKCR when it can be written, else the per-user classes.
HKEY ClassesRoot(win::RegKey* userClasses) {
  win::RegKey probe;
  const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
  if (probe.Create(HKEY_CLASSES_ROOT, clsidKey.c_str(), KEY_WRITE) == ERROR_SUCCESS) return HKEY_CLASSES_ROOT;
  if (userClasses->Create(HKEY_CURRENT_USER, L"Software\\Classes", KEY_ALL_ACCESS) != ERROR_SUCCESS) {
    return nullptr;
  }
  return userClasses->get();
}

void DeleteTree(HKEY root, const std::wstring& path) { RegDeleteTreeW(root, path.c_str()); }

// The default value of root\path; false when the key does not exist.
bool ReadDefault(HKEY root, const std::wstring& path, std::wstring* value) {
  win::RegKey key;
  if (key.Open(root, path.c_str(), KEY_READ) != ERROR_SUCCESS) return false;
  wchar_t text[1024] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  DWORD type = REG_NONE;
  value->clear();
  if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    value->assign(text);
  }
  return true;
}

// The key exists and does not describe the simulator: another program (a real Outlook) owns it.
bool OwnedByOther(HKEY root, const std::wstring& path) {
  std::wstring value;
  return ReadDefault(root, path, &value) && value != kDescription;
}

// Interface\{ApplicationEvents}\TypeLib names a library other than the simulator's.
bool EventInterfaceOwnedByOther() {
  std::wstring libid;
  if (!ReadDefault(HKEY_CLASSES_ROOT, std::wstring(L"Interface\\") + kIidApplicationEventsText + L"\\TypeLib", &libid)) {
    return false;
  }
  GUID guid;
  return !(SUCCEEDED(CLSIDFromString(libid.c_str(), &guid)) && IsEqualGUID(guid, kLibidSimulator));
}

// What another program has registered that /regserver would overwrite; empty when nothing.
std::string ForeignRegistration() {
  const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
  if (OwnedByOther(HKEY_CLASSES_ROOT, clsidKey)) {
    std::wstring server;
    ReadDefault(HKEY_CLASSES_ROOT, clsidKey + L"\\LocalServer32", &server);
    return "the class " + Narrow(kClsidText) + " is registered for another program" +
           (server.empty() ? std::string() : " (" + Narrow(server) + ")");
  }
  if (OwnedByOther(HKEY_CLASSES_ROOT, kProgId)) return "the ProgID Outlook.Application belongs to another program";
  if (EventInterfaceOwnedByOther()) {
    return "the interface ApplicationEvents " + Narrow(kIidApplicationEventsText) +
           " is described by another program's type library";
  }
  return {};
}

}  // namespace

std::string RegisterServer(const std::vector<std::string>& serverArgs, bool force) {
  const std::wstring exe = ModulePath();
  if (exe.empty()) return "cannot find the simulator's own path";
  if (!force) {
    const std::string foreign = ForeignRegistration();
    if (!foreign.empty()) {
      return "refusing to register: " + foreign +
             ". Registering would break that program (a real Outlook?); use /regserver /force to overwrite it";
    }
  }
  std::string commandLine = QuoteArgument(Narrow(exe));
  for (const std::string& arg : serverArgs) commandLine += " " + QuoteArgument(arg);

  win::RegKey userClasses;
  HKEY root = ClassesRoot(&userClasses);
  if (!root) return "cannot write HKEY_CLASSES_ROOT nor HKCU\\Software\\Classes";
  const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
  const std::wstring progId = kProgId;
  const struct {
    std::wstring path, value;
  } values[] = {
      {clsidKey, kDescription},
      {clsidKey + L"\\LocalServer32", Wide(commandLine)},
      {clsidKey + L"\\ProgID", progId},
      {progId, kDescription},
      {progId + L"\\CLSID", kClsidText},
  };
  for (const auto& v : values) {
    const LONG rc = SetDefault(root, v.path, v.value);
    if (rc != ERROR_SUCCESS) return "cannot write " + Narrow(v.path) + " (error " + std::to_string(rc) + ")";
  }

  std::string errors;
  for (const std::wstring& folder : {MachineDataDirectory(), DirectoryOf(exe), TempDirectory()}) {
    if (folder.empty()) continue;
    const std::string error = CreateAndRegisterTypeLibrary(folder + kTypeLibFile);
    if (error.empty()) return {};
    errors += (errors.empty() ? "" : "; ") + Narrow(folder) + ": " + error;
  }
  return errors.empty() ? "no folder for the type library" : errors;
}

std::string UnregisterServer() {
  // The registered library file, whichever folder it went to.
  BSTR registered = nullptr;
  std::wstring registeredPath;
  if (SUCCEEDED(QueryPathOfRegTypeLib(kLibidSimulator, 1, 0, 0, &registered)) && registered) {
    registeredPath.assign(registered, SysStringLen(registered));
    while (!registeredPath.empty() && registeredPath.back() == L'\0') registeredPath.pop_back();
  }
  SysFreeString(registered);
  UnregisterTypeLibrary();
  for (const std::wstring& file : {registeredPath, MachineDataDirectory() + kTypeLibFile, TempDirectory() + kTypeLibFile}) {
    if (!file.empty()) DeleteFileW(file.c_str());
  }

  const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
  const std::wstring interfaceKey = std::wstring(L"Interface\\") + kIidApplicationEventsText;
  win::RegKey userClasses;
  userClasses.Open(HKEY_CURRENT_USER, L"Software\\Classes", KEY_ALL_ACCESS);
  // Only the keys that still describe the simulator: a real Outlook's stay.
  for (HKEY root : {userClasses.get(), HKEY_CLASSES_ROOT}) {
    if (!root) continue;
    std::wstring value;
    if (ReadDefault(root, clsidKey, &value) && value == kDescription) DeleteTree(root, clsidKey);
    if (ReadDefault(root, kProgId, &value) && value == kDescription) DeleteTree(root, kProgId);
  }
  // Only when it still names our library: a real Outlook's registration is left alone.
  win::RegKey typeLibOfInterface;
  wchar_t libid[64] = {};
  DWORD size = sizeof(libid) - sizeof(wchar_t);
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (interfaceKey + L"\\TypeLib").c_str(), 0, KEY_READ,
                    typeLibOfInterface.put()) == ERROR_SUCCESS &&
      RegQueryValueExW(typeLibOfInterface.get(), nullptr, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(libid), &size) == ERROR_SUCCESS) {
    typeLibOfInterface.reset();
    GUID guid;
    if (SUCCEEDED(CLSIDFromString(libid, &guid)) && IsEqualGUID(guid, kLibidSimulator)) {
      DeleteTree(HKEY_CLASSES_ROOT, interfaceKey);
    }
  }
  return {};
}

}  // namespace sim
