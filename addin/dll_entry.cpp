// The in-process server's entry points: the DLL entry routine and the four exports every COM
// server offers (named in mervane.def).
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <memory>
#include <new>

#include "addin/addin_factory.h"
#include "addin/addin_identity.h"
#include "addin/interface_ids.h"
#include "addin/key_path.h"
#include "addin/module_state.h"
#include "addin/registration.h"

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
  std::unique_ptr<CAddinFactory> factory(new (std::nothrow) CAddinFactory);
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
  char modulePath[512];
  const DWORD length = ::GetModuleFileNameA(g_hModule, modulePath, sizeof modulePath);
  // A path that filled the buffer was cut short: registering it would name a file that isn't us.
  if (length == 0 || length >= sizeof modulePath) return E_FAIL;
  char classKey[512];
  if (ClassKeyPath(kClsidAddinText, classKey, sizeof classKey)) {
    CreateKeyWithDefault(HKEY_CLASSES_ROOT, classKey, nullptr, kAddinDescription);
    CreateKeyWithDefault(HKEY_CLASSES_ROOT, classKey, "InprocServer32", modulePath);
    CreateKeyWithDefault(HKEY_CLASSES_ROOT, classKey, "ProgID", kAddinProgId);
  }
  CreateKeyWithDefault(HKEY_CLASSES_ROOT, kAddinProgId, nullptr, kAddinDescription);
  CreateKeyWithDefault(HKEY_CLASSES_ROOT, kAddinProgId, "CLSID", kClsidAddinText);
  RegisterOfficeAddin(kAddinHostApplication, kAddinProgId, kAddinDescription, kAddinLoadBehavior);
  return S_OK;
}

STDAPI DllUnregisterServer() {
  char classKey[512];
  if (ClassKeyPath(kClsidAddinText, classKey, sizeof classKey)) {
    DeleteKeyTree(HKEY_CLASSES_ROOT, classKey);
  }
  DeleteKeyTree(HKEY_CLASSES_ROOT, kAddinProgId);
  UnregisterOfficeAddin(kAddinHostApplication, kAddinProgId);
  return S_OK;
}
