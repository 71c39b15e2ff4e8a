#pragma once
// The Automation client: holds one IDispatch and calls its members late-bound by DISPID.
#include <windows.h>
#include <oleauto.h>

#include <cstdarg>

#include "agent/framework/dispatch_param_types.h"
#include "agent/framework/ole_exception.h"

namespace fw {

class DispatchDriver {
 public:
  DispatchDriver() = default;
  // Wraps a pointer. With autoRelease the driver owns the reference it is handed and releases it
  // once; without, it only borrows the pointer.
  explicit DispatchDriver(LPDISPATCH dispatch, BOOL autoRelease = TRUE)
      : m_lpDispatch(dispatch), m_bAutoRelease(autoRelease) {}
  DispatchDriver(const DispatchDriver&) = delete;
  DispatchDriver& operator=(const DispatchDriver&) = delete;
  ~DispatchDriver() { ReleaseDispatch(); }

  // Creates the object registered under progId (in-process or local server) and owns its
  // IDispatch. FALSE on failure, with the status code in *error when given.
  BOOL CreateDispatch(const char* progId, OleException* error = nullptr);
  BOOL CreateDispatch(REFCLSID clsid, OleException* error = nullptr);

  void AttachDispatch(LPDISPATCH dispatch, BOOL autoRelease = TRUE);
  // Lets go of the pointer, releasing it if owned.
  void ReleaseDispatch();
  // Hands the pointer (and the reference, if owned) to the caller.
  LPDISPATCH DetachDispatch();

  // One IDispatch::Invoke. paramTypes (VTS_..., null for none) describes the variable arguments.
  // The result is coerced to vtRet and stored at pvRet:
  //   VT_EMPTY none; VT_I2 short; VT_I4 long; VT_R4 float; VT_R8 and VT_DATE double; VT_BOOL BOOL;
  //   VT_ERROR SCODE; VT_UI1 BYTE; VT_BSTR std::string in the ANSI code page (a null BSTR is
  //   empty); VT_DISPATCH IDispatch* and VT_UNKNOWN IUnknown* (the caller owns the reference);
  //   VT_VARIANT VARIANT, uncoerced (the caller owns its contents).
  // Throws OleException on failure, OleDispatchException when the object raised an exception.
  void InvokeHelper(DISPID dispid, WORD wFlags, VARTYPE vtRet, void* pvRet, const BYTE* paramTypes, ...);
  void InvokeHelperV(DISPID dispid, WORD wFlags, VARTYPE vtRet, void* pvRet, const BYTE* paramTypes,
                     va_list args);

  LPDISPATCH m_lpDispatch = nullptr;
  BOOL m_bAutoRelease = TRUE;
};

}  // namespace fw

using COleDispatchDriver = fw::DispatchDriver;
