// Stands in for the add-in beside cadelo: regsvr32 loads it and calls DllRegisterServer, which
// records where this DLL was loaded from and the command line regsvr32 was started with.
#include <windows.h>

#include <string>

#include "common/win/handles.h"
#include "tests/shell/registration_record.h"

namespace {

HMODULE g_module = nullptr;

void WriteText(HKEY key, const char* name, const std::string& text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

extern "C" HRESULT __stdcall DllRegisterServer() {
  win::RegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kRegistrationRecordKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS) {
    return E_FAIL;
  }
  char path[1024] = {};
  GetModuleFileNameA(g_module, path, sizeof path);
  DWORD count = 0;
  DWORD size = sizeof count;
  RegQueryValueExA(key.get(), "count", nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size);
  ++count;
  WriteText(key.get(), "module", path);
  WriteText(key.get(), "commandline", GetCommandLineA());
  // Written last: a test that sees the new count sees the other values too.
  RegSetValueExA(key.get(), "count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
  return S_OK;
}

extern "C" HRESULT __stdcall DllUnregisterServer() { return S_OK; }
