// The in-process server's entry points: the DLL entry routine and the four exports every COM
// server offers (named in mervane.def).
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <cstdlib>
#include <memory>

#include "addin/addin.h"
#include "addin/key_path.h"
#include "addin/registration.h"
#include "common/win/handles.h"

// The module's allocation functions, served from the C runtime's heap.
void* operator new(std::size_t size, OrNull) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {
HMODULE g_hModule = nullptr;
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_hModule = module;
    ::DisableThreadLibraryCalls(module);
  }
  // Nothing on detach: an agent started by an add-in object runs on by itself.
  return TRUE;
}

STDAPI DllCanUnloadNow() { return g_cObjects == 0 && g_cLocks == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!SameGuid(rclsid, kClsidAddin)) return CLASS_E_CLASSNOTAVAILABLE;
  std::unique_ptr<CAddinFactory> factory(new (OrNull{}) CAddinFactory);
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  if (FAILED(hr)) {
    *ppv = nullptr;
    return hr;
  }
  factory.release();  // the caller holds the first reference
  return hr;
}

STDAPI DllRegisterServer() {
  wchar_t modulePath[512];
  const DWORD length = ::GetModuleFileNameW(g_hModule, modulePath, 512);
  // A path that filled the buffer was cut short: registering it would name a file that isn't us.
  if (length == 0 || length >= 512) return E_FAIL;
  // HKEY_CLASSES_ROOT writes the machine's classes unless the user's own hold the keys: a
  // standard user may not, and the user's own classes serve Outlook just as well.
  LONG classes = RegisterAddinClass(HKEY_CLASSES_ROOT, modulePath);
  if (classes != ERROR_SUCCESS) {
    win::RegKey userClasses;
    classes = userClasses.Create(HKEY_CURRENT_USER, L"Software\\Classes", KEY_CREATE_SUB_KEY);
    if (classes == ERROR_SUCCESS) classes = RegisterAddinClass(userClasses.get(), modulePath);
  }
  const LONG addin =
      RegisterOfficeAddin(kAddinHostApplication, kAddinProgId, kAddinDescription, kAddinLoadBehavior);
  // regsvr32 reports what failed: Outlook finds no class, or does not know to load the add-in.
  if (classes != ERROR_SUCCESS) return HRESULT_FROM_WIN32(classes);
  if (addin != ERROR_SUCCESS) return HRESULT_FROM_WIN32(addin);
  return S_OK;
}

// Removes the registration wherever DllRegisterServer may have written it.
STDAPI DllUnregisterServer() {
  char classKey[512];
  if (ClassKeyPath(kClsidAddinText, classKey, sizeof classKey)) {
    DeleteKeyTree(HKEY_CLASSES_ROOT, classKey);
  }
  DeleteKeyTree(HKEY_CLASSES_ROOT, kAddinProgId);
  char userKey[512];
  if (JoinKeyPath({kUserClassesKeyPath, classKey}, userKey, sizeof userKey)) {
    DeleteKeyTree(HKEY_CURRENT_USER, userKey);
  }
  if (JoinKeyPath({kUserClassesKeyPath, kAddinProgId}, userKey, sizeof userKey)) {
    DeleteKeyTree(HKEY_CURRENT_USER, userKey);
  }
  UnregisterOfficeAddin(kAddinHostApplication, kAddinProgId);
  return S_OK;
}
