#include "tools/outlook-sim/dispatch_object.h"

#include "tools/outlook-sim/guard.h"
#include "tools/outlook-sim/script/log_text.h"
#include "tools/outlook-sim/script/utf.h"
#include "tools/outlook-sim/sim_log.h"
#include "tools/outlook-sim/variant_text.h"

namespace sim {

DispatchObject::DispatchObject(ObjectKind kind, std::string logName)
    : kind_(kind), logName_(std::move(logName)) {}

STDMETHODIMP DispatchObject::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
    *ppv = static_cast<IDispatch*>(this);
  } else {
    *ppv = QueryOther(riid);
  }
  if (!*ppv) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) DispatchObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) DispatchObject::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP DispatchObject::GetTypeInfoCount(UINT* count) {
  LogLine(logName_ + " GetTypeInfoCount");
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

STDMETHODIMP DispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  LogLine(logName_ + " GetTypeInfo -> DISP_E_BADINDEX");
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

STDMETHODIMP DispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                           DISPID* ids) {
  if (!names || !ids || count == 0) return E_INVALIDARG;
  HRESULT hr = S_OK;
  std::string line = logName_ + " GetIDsOfNames";
  for (UINT i = 0; i < count; ++i) {
    const std::string name =
        names[i] ? Utf16ToUtf8(reinterpret_cast<const char16_t*>(names[i])) : std::string();
    line += " " + name;
    // Only the member name (the first) can be mapped: the members take no named arguments.
    const MemberInfo* info = i == 0 ? FindMemberByName(kind_, name) : nullptr;
    ids[i] = info ? info->dispid : DISPID_UNKNOWN;
    if (!info) hr = DISP_E_UNKNOWNNAME;
  }
  if (FAILED(hr)) line += " -> " + HresultName(static_cast<uint32_t>(hr));
  LogLine(line);
  return hr;
}

STDMETHODIMP DispatchObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                    VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
  const MemberInfo* info = FindMemberByDispid(kind_, id);
  std::string line = logName_ + " " + (info ? std::string(info->name) : "dispid=" + Hex32(static_cast<uint32_t>(id))) +
                     " " + InvokeKindText(flags);
  auto finish = [&](HRESULT hr) {
    if (FAILED(hr)) line += " -> " + HresultName(static_cast<uint32_t>(hr));
    LogLine(line);
    return hr;
  };
  // A property is also read with DISPATCH_METHOD|DISPATCH_PROPERTYGET, as Outlook allows.
  if (!info || (flags & info->kind) == 0) return finish(DISP_E_MEMBERNOTFOUND);
  if (!IsEqualIID(riid, IID_NULL)) return finish(DISP_E_UNKNOWNINTERFACE);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  const DISPPARAMS& p = params ? *params : none;
  if (p.cArgs > 0 && !p.rgvarg) return finish(E_INVALIDARG);
  if ((flags & DISPATCH_PROPERTYPUT) && (info->kind & kPropertyPut)) {
    // A put carries its value as the one named argument DISPID_PROPERTYPUT.
    if (p.cArgs != 1 || p.cNamedArgs != 1 || !p.rgdispidNamedArgs || p.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      return finish(DISP_E_BADPARAMCOUNT);
    }
    line += " (" + VariantText(p.rgvarg[0]) + ")";
    if (const Text* failure = PutFailureOf(info->member)) {
      FillException(*failure, excep);
      return finish(DISP_E_EXCEPTION);
    }
    return finish(Put(*info, p.rgvarg[0]));
  }
  if (p.cNamedArgs > 0) return finish(DISP_E_NONAMEDARGS);
  if (!(info->kind & kMethod) && p.cArgs != 0) return finish(DISP_E_BADPARAMCOUNT);
  if (!PassGuard(logName_, *info, excep)) return finish(DISP_E_EXCEPTION);

  VARIANT answer;
  VariantInit(&answer);
  UINT badArg = 0;
  std::string argText;
  HRESULT hr = Answer(*info, p, &answer, &badArg, &argText);
  line += argText;
  if (FAILED(hr)) {
    VariantClear(&answer);
    if (argErr && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND)) *argErr = badArg;
    return finish(hr);
  }
  if (const Text* failure = FailureOf(info->member)) {
    VariantClear(&answer);
    FillException(*failure, excep);
    return finish(DISP_E_EXCEPTION);
  }
  if (result) {
    VariantInit(result);
    *result = answer;  // hands the contents over
  } else {
    VariantClear(&answer);
  }
  return finish(S_OK);
}

std::string InvokeKindText(WORD flags) {
  std::string text;
  auto add = [&](WORD bit, const char* name) {
    if (!(flags & bit)) return;
    if (!text.empty()) text += '|';
    text += name;
  };
  add(DISPATCH_METHOD, "method");
  add(DISPATCH_PROPERTYGET, "get");
  add(DISPATCH_PROPERTYPUT, "put");
  add(DISPATCH_PROPERTYPUTREF, "putref");
  if (text.empty()) text = "flags=" + std::to_string(flags);
  return text;
}

void FillException(const Text& description, EXCEPINFO* excep) {
  if (!excep) return;
  *excep = EXCEPINFO();
  excep->bstrSource = SysAllocString(L"Outlook");
  excep->bstrDescription = MakeBstr(description);
  excep->scode = E_FAIL;
}

}  // namespace sim
