#include "addin/automation.h"

#include "addin/addin.h"

namespace automation {

HRESULT Call(IDispatch* object, DISPID member, WORD kind, const VARIANT* args, UINT count,
             VARIANT* result, CallFailure* failure) {
  if (!object) return E_POINTER;
  constexpr UINT kMaxArgs = 4;
  if (count > kMaxArgs) return E_INVALIDARG;
  // IDispatch takes its arguments last first; they are lent, not handed over.
  VARIANTARG reversed[kMaxArgs];
  for (UINT i = 0; i < count; ++i) reversed[i] = args[count - 1 - i];
  DISPID namedPut = DISPID_PROPERTYPUT;
  DISPPARAMS params = {count ? reversed : nullptr, nullptr, count, 0};
  if (kind == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &namedPut;
    params.cNamedArgs = 1;
  }
  EXCEPINFO exception = {};
  UINT argumentError = 0;
  const HRESULT hr =
      object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, &exception, &argumentError);
  if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrHelpFile);
  if (failure && FAILED(hr)) {
    failure->hr = hr;
    ::SysFreeString(failure->description);
    failure->description = exception.bstrDescription;
  } else {
    ::SysFreeString(exception.bstrDescription);
  }
  return hr;
}

HRESULT Get(IDispatch* object, DISPID member, VARIANT* result, CallFailure* failure) {
  return Call(object, member, DISPATCH_PROPERTYGET | DISPATCH_METHOD, nullptr, 0, result, failure);
}

HRESULT GetObjectProperty(IDispatch* object, DISPID member, win::ComPtr<IDispatch>* result, CallFailure* failure) {
  result->reset();
  win::Variant value;
  const HRESULT hr = Get(object, member, value.put(), failure);
  if (FAILED(hr)) return hr;
  *result = DispatchOf(*value.get());
  return S_OK;
}

HRESULT Put(IDispatch* object, DISPID member, const VARIANT& value, CallFailure* failure) {
  return Call(object, member, DISPATCH_PROPERTYPUT, &value, 1, nullptr, failure);
}

HRESULT PutText(IDispatch* object, DISPID member, const wchar_t* text, CallFailure* failure) {
  win::Variant value;
  value.get()->vt = VT_BSTR;
  value.get()->bstrVal = ::SysAllocString(text);
  if (!value.get()->bstrVal) return E_OUTOFMEMORY;
  return Put(object, member, *value.get(), failure);
}

win::ComPtr<IDispatch> DispatchOf(const VARIANT& value) {
  IUnknown* unknown = nullptr;
  switch (value.vt) {
    case VT_DISPATCH: unknown = value.pdispVal; break;
    case VT_UNKNOWN: unknown = value.punkVal; break;
    case VT_DISPATCH | VT_BYREF: unknown = value.ppdispVal ? *value.ppdispVal : nullptr; break;
    case VT_UNKNOWN | VT_BYREF: unknown = value.ppunkVal ? *value.ppunkVal : nullptr; break;
    default: break;
  }
  win::ComPtr<IDispatch> object;
  if (unknown) unknown->QueryInterface(kIidIDispatch, object.put_void());
  return object;
}

}  // namespace automation
