#include "agent/framework/dispatch_driver.h"

#include <string>
#include <utility>

#include "agent/framework/dispatch_arguments.h"
#include "agent/framework/ole_text.h"
#include "common/win/variant.h"

namespace fw {
namespace {

bool IsSupportedResultType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_DATE: case VT_BOOL:
    case VT_ERROR: case VT_UI1: case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: case VT_VARIANT:
      return true;
    default:
      return false;
  }
}

void StoreResult(win::Variant& result, VARTYPE vtRet, void* pvRet) {
  VARIANT& v = *result.get();
  switch (vtRet) {
    case VT_I2: *static_cast<short*>(pvRet) = v.iVal; break;
    case VT_I4: *static_cast<long*>(pvRet) = v.lVal; break;
    case VT_R4: *static_cast<float*>(pvRet) = v.fltVal; break;
    case VT_R8: *static_cast<double*>(pvRet) = v.dblVal; break;
    case VT_DATE: *static_cast<DATE*>(pvRet) = v.date; break;
    case VT_BOOL: *static_cast<BOOL*>(pvRet) = v.boolVal != VARIANT_FALSE; break;
    case VT_ERROR: *static_cast<SCODE*>(pvRet) = v.scode; break;
    case VT_UI1: *static_cast<BYTE*>(pvRet) = v.bVal; break;
    case VT_BSTR: *static_cast<std::string*>(pvRet) = BstrToAnsi(v.bstrVal); break;
    case VT_DISPATCH: *static_cast<IDispatch**>(pvRet) = result.Detach().pdispVal; break;
    case VT_UNKNOWN: *static_cast<IUnknown**>(pvRet) = result.Detach().punkVal; break;
    case VT_VARIANT: *static_cast<VARIANT*>(pvRet) = result.Detach(); break;
    default: break;
  }
}

}  // namespace

BOOL DispatchDriver::CreateDispatch(REFCLSID clsid, OleException* error) {
  ReleaseDispatch();
  IDispatch* dispatch = nullptr;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                      IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  if (FAILED(hr)) {
    if (error) error->m_sc = hr;
    return FALSE;
  }
  AttachDispatch(dispatch, TRUE);
  return TRUE;
}

BOOL DispatchDriver::CreateDispatch(const char* progId, OleException* error) {
  CLSID clsid{};
  const std::wstring wideProgId = AnsiToWide(progId);
  const HRESULT hr = CLSIDFromProgID(wideProgId.c_str(), &clsid);
  if (FAILED(hr)) {
    ReleaseDispatch();
    if (error) error->m_sc = hr;
    return FALSE;
  }
  return CreateDispatch(clsid, error);
}

void DispatchDriver::AttachDispatch(LPDISPATCH dispatch, BOOL autoRelease) {
  ReleaseDispatch();
  m_lpDispatch = dispatch;
  m_bAutoRelease = autoRelease;
}

void DispatchDriver::ReleaseDispatch() {
  LPDISPATCH old = std::exchange(m_lpDispatch, nullptr);
  if (old && m_bAutoRelease) old->Release();
}

LPDISPATCH DispatchDriver::DetachDispatch() { return std::exchange(m_lpDispatch, nullptr); }

void DispatchDriver::InvokeHelper(DISPID dispid, WORD wFlags, VARTYPE vtRet, void* pvRet,
                                  const BYTE* paramTypes, ...) {
  va_list args;
  va_start(args, paramTypes);
  try {
    InvokeHelperV(dispid, wFlags, vtRet, pvRet, paramTypes, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
}

void DispatchDriver::InvokeHelperV(DISPID dispid, WORD wFlags, VARTYPE vtRet, void* pvRet,
                                   const BYTE* paramTypes, va_list args) {
  if (!m_lpDispatch) ThrowOleException(E_POINTER);
  if (!IsSupportedResultType(vtRet) || (vtRet != VT_EMPTY && !pvRet)) ThrowOleException(E_INVALIDARG);

  DispatchArguments arguments(paramTypes, args);
  DISPPARAMS params = arguments.Params();
  DISPID namedPut = DISPID_PROPERTYPUT;
  if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.cNamedArgs = 1;
    params.rgdispidNamedArgs = &namedPut;
  }

  win::Variant result;
  EXCEPINFO excepInfo{};
  UINT argError = 0;
  const HRESULT hr = m_lpDispatch->Invoke(dispid, IID_NULL, 0, wFlags, &params,
                                          vtRet == VT_EMPTY ? nullptr : result.put(), &excepInfo, &argError);
  if (FAILED(hr)) {
    if (hr == DISP_E_EXCEPTION) throw OleDispatchException::FromExcepInfo(excepInfo);
    ClearExcepInfo(&excepInfo);
    ThrowOleException(hr);
  }
  ClearExcepInfo(&excepInfo);
  if (vtRet == VT_EMPTY) return;

  if (vtRet != VT_VARIANT && result.vt() != vtRet) {
    const HRESULT coerced = VariantChangeType(result.get(), result.get(), 0, vtRet);
    if (FAILED(coerced)) ThrowOleException(coerced);
  }
  StoreResult(result, vtRet, pvRet);
}

}  // namespace fw
