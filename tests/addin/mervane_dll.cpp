#include "tests/addin/mervane_dll.h"

#include <gtest/gtest.h>

#include "tests/harness/paths.h"

namespace addin_test {

const CLSID kAddinClassId = {
    0x8A61C2E4, 0x3B7F, 0x4C19, {0x9D, 0x25, 0x6E, 0x0B, 0x7F, 0x41, 0xA3, 0xC8}};

std::string MervanePath() { return harness::WinePath(MERVANE_DLL); }

namespace {

template <typename Fn>
void Resolve(HMODULE module, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

MervaneExports Load() {
  MervaneExports e;
  // Kept loaded until the process ends, as a host keeps an add-in it uses.
  e.module = LoadLibraryA(MervanePath().c_str());
  if (!e.module) return e;
  Resolve(e.module, "DllGetClassObject", &e.DllGetClassObject);
  Resolve(e.module, "DllCanUnloadNow", &e.DllCanUnloadNow);
  Resolve(e.module, "DllRegisterServer", &e.DllRegisterServer);
  Resolve(e.module, "DllUnregisterServer", &e.DllUnregisterServer);
  return e;
}

}  // namespace

const MervaneExports& Mervane() {
  static const MervaneExports exports = Load();
  EXPECT_NE(exports.module, nullptr) << MervanePath() << " error " << GetLastError();
  EXPECT_NE(exports.DllGetClassObject, nullptr);
  EXPECT_NE(exports.DllCanUnloadNow, nullptr);
  EXPECT_NE(exports.DllRegisterServer, nullptr);
  EXPECT_NE(exports.DllUnregisterServer, nullptr);
  return exports;
}

win::ComPtr<IDTExtensibility2> CreateAddin() {
  win::ComPtr<IDTExtensibility2> addin;
  const MervaneExports& dll = Mervane();
  if (!dll.DllGetClassObject) return addin;
  win::ComPtr<IClassFactory> factory;
  EXPECT_EQ(dll.DllGetClassObject(kAddinClassId, IID_IClassFactory, factory.put_void()), S_OK);
  if (!factory) return addin;
  EXPECT_EQ(factory->CreateInstance(nullptr, kIidIDTExtensibility2, addin.put_void()), S_OK);
  return addin;
}

}  // namespace addin_test
