#include "agent/framework/ole/automation.h"

#include <cstdio>

#include "agent/framework/ole/ole_text.h"

namespace fw {

std::string CallStatus::Reason() const {
  if (!description.empty()) return description;
  char code[32] = {};
  // The system C runtime's formatter (see shared.cpp): the text always fits.
  ::_snprintf(code, sizeof code - 1, "error 0x%08lX", static_cast<unsigned long>(hr));
  return code;
}

win::Variant ArgText(const std::string& text) {
  win::Variant value;
  value.get()->bstrVal = AnsiToBstr(text.c_str());
  if (value.get()->bstrVal) value.get()->vt = VT_BSTR;
  return value;
}

win::Variant ArgShort(short number) {
  win::Variant value;
  value.get()->vt = VT_I2;
  value.get()->iVal = number;
  return value;
}

win::Variant ArgLong(long number) {
  win::Variant value;
  value.get()->vt = VT_I4;
  value.get()->lVal = number;
  return value;
}

CallStatus Dispatch::Create(const char* progId, Dispatch* out) {
  out->reset();
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(AnsiToWide(progId).c_str(), &clsid);
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          out->p_.put_void());
  }
  return CallStatus{hr, std::string()};
}

CallStatus Dispatch::Invoke(DISPID id, WORD flags, DISPPARAMS* params, win::Variant* result) const {
  if (!p_) return CallStatus{E_POINTER, std::string()};
  // A BSTR argument that could not be made arrives here as VT_EMPTY: do not send half a call.
  for (UINT i = 0; i < params->cArgs; ++i) {
    if (params->rgvarg[i].vt == VT_EMPTY) return CallStatus{E_OUTOFMEMORY, std::string()};
  }
  EXCEPINFO info{};
  UINT argError = 0;
  const HRESULT hr = p_->Invoke(id, IID_NULL, 0, flags, params, result ? result->put() : nullptr, &info, &argError);
  if (hr == DISP_E_EXCEPTION && info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  CallStatus status{hr, std::string()};
  if (hr == DISP_E_EXCEPTION) {
    if (info.bstrDescription) status.description = BstrToAnsi(info.bstrDescription);
    if (FAILED(info.scode)) status.hr = info.scode;
  }
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  return status;
}

CallStatus Dispatch::Get(DISPID id, win::Variant* value) const {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return Invoke(id, DISPATCH_PROPERTYGET, &none, value);
}

template <typename Take>
CallStatus Dispatch::GetAs(DISPID id, VARTYPE type, Take take) const {
  win::Variant value;
  CallStatus status = Get(id, &value);
  if (status.Ok() && value.vt() != type) status.hr = VariantChangeType(value.get(), value.get(), 0, type);
  if (status.Ok()) take(value);
  return status;
}

CallStatus Dispatch::Get(DISPID id, std::string* text) const {
  return GetAs(id, VT_BSTR, [text](win::Variant& value) { *text = BstrToAnsi(value.get()->bstrVal); });
}

CallStatus Dispatch::Get(DISPID id, long* number) const {
  return GetAs(id, VT_I4, [number](win::Variant& value) { *number = value.get()->lVal; });
}

CallStatus Dispatch::GetDate(DISPID id, DATE* date) const {
  return GetAs(id, VT_DATE, [date](win::Variant& value) { *date = value.get()->date; });
}

CallStatus Dispatch::Get(DISPID id, Dispatch* object) const {
  win::ComPtr<IDispatch> got;  // object may be this one: replaced only after the call
  const CallStatus status = GetAs(id, VT_DISPATCH, [&got](win::Variant& value) {
    got = win::ComPtr<IDispatch>::Attach(value.Detach().pdispVal);
  });
  object->p_ = std::move(got);
  return status;
}

}  // namespace fw
