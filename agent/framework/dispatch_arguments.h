#pragma once
// The DISPPARAMS of one outgoing Automation call, built from a parameter-type list and the
// matching variable arguments. Owns every value it made (BSTRs, copies of VARIANTs, references
// on interface pointers) and frees them when it goes.
#include <windows.h>
#include <oleauto.h>

#include <cstdarg>
#include <vector>

namespace fw {

class DispatchArguments {
 public:
  // Reads one argument per type byte of paramTypes (null: none). Throws OleException
  // (E_INVALIDARG) for a type byte the framework does not pass, E_OUTOFMEMORY when a copy fails.
  DispatchArguments(const BYTE* paramTypes, va_list args);
  DispatchArguments(const DispatchArguments&) = delete;
  DispatchArguments& operator=(const DispatchArguments&) = delete;
  ~DispatchArguments();

  // The arguments in Automation's order (last parameter first); valid while this object lives.
  DISPPARAMS Params();

 private:
  std::vector<VARIANTARG> reversed_;
};

}  // namespace fw
