#pragma once
// mervane.dll loaded into the test process the way a host loads an in-process server: by path,
// reaching its exports by name.
#include <windows.h>

#include <string>

#include "addin/addin.h"
#include "common/win/com_ptr.h"

namespace addin_test {

struct MervaneExports {
  HMODULE module = nullptr;
  HRESULT(STDAPICALLTYPE* DllGetClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* DllCanUnloadNow)() = nullptr;
  HRESULT(STDAPICALLTYPE* DllRegisterServer)() = nullptr;
  HRESULT(STDAPICALLTYPE* DllUnregisterServer)() = nullptr;
};

// The built DLL as a Windows path.
std::string MervanePath();
// Loaded on first use and kept for the whole test run; every export is non-null (checked).
const MervaneExports& Mervane();

// {8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}, written out here independently of the product's copy.
extern const CLSID kAddinClassId;

// An add-in object made through the class factory, as a host makes it; the caller owns the one
// reference. Null (with a test failure recorded) if that fails.
win::ComPtr<IDTExtensibility2> CreateAddin();

}  // namespace addin_test
