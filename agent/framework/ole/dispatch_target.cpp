#include "agent/framework/ole/dispatch_target.h"

#include <cstring>
#include <string>
#include <vector>

#include "agent/framework/shared.h"
#include "common/win/variant.h"

namespace fw {
namespace {

const DispatchEntry kNoDispatchEntries[] = {kEndOfDispatchMap};
const DispatchMap kRootDispatchMap{nullptr, kNoDispatchEntries};

// The first entry along a chain of maps (the most derived class's first) that `match` accepts.
template <typename Match>
const DispatchEntry* Find(const DispatchMap* map, Match match) {
  for (; map; map = map->base) {
    for (const DispatchEntry* entry = map->entries; entry && entry->name; ++entry) {
      if (match(*entry)) return entry;
    }
  }
  return nullptr;
}

size_t ParamCount(const DispatchEntry& entry) { return entry.paramTypes ? std::strlen(entry.paramTypes) : 0; }

BSTR NewBstrOrNull(const std::string& text) { return text.empty() ? nullptr : AnsiToBstr(text.c_str()); }

// Describes a member's failure for the caller of IDispatch::Invoke: this application as the
// source, the system's text for the code. EXCEPINFO is an [out] parameter: whatever it holds on
// entry belongs to nobody (callers commonly leave it uninitialised), so it is overwritten whole,
// never freed.
void FillExcepInfo(HRESULT sc, EXCEPINFO* info) {
  if (!info) return;
  *info = EXCEPINFO{};
  info->bstrSource = NewBstrOrNull(AppTitle());
  info->bstrDescription = NewBstrOrNull(SystemMessage(static_cast<DWORD>(sc)));
  info->scode = sc;
}

}  // namespace

ULONG AutomationTarget::RefCount() {
  InternalAddRef();
  return InternalRelease();
}

const DispatchMap* AutomationTarget::GetDispatchMap() const { return &kRootDispatchMap; }

HRESULT AutomationTarget::DispGetIDsOfNames(LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  if (count == 0) return S_OK;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const wchar_t* name = names[0];
  const DispatchEntry* entry = name ? Find(GetDispatchMap(), [name](const DispatchEntry& candidate) {
    return lstrcmpiW(AnsiToWide(candidate.name).c_str(), name) == 0;
  }) : nullptr;
  if (!entry) return DISP_E_UNKNOWNNAME;
  ids[0] = entry->dispid;
  return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT AutomationTarget::DispInvoke(DISPID id, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excepInfo, UINT* argErr) {
  const DispatchEntry* entry =
      Find(GetDispatchMap(), [id](const DispatchEntry& candidate) { return candidate.dispid == id; });
  if (!entry) return DISP_E_MEMBERNOTFOUND;
  // The member may run a nested message loop; the object stays alive until it returns, also when
  // it throws (on to the exception barrier of the IDispatch).
  struct Hold {
    AutomationTarget* self;
    ~Hold() { self->InternalRelease(); }
  } hold{this};
  InternalAddRef();
  return InvokeEntry(*entry, flags, params, result, excepInfo, argErr);
}

HRESULT AutomationTarget::InvokeEntry(const DispatchEntry& entry, WORD flags, DISPPARAMS* params,
                                      VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
  if (!params) return E_INVALIDARG;
  if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  const size_t count = ParamCount(entry);
  if (params->cArgs != count) return DISP_E_BADPARAMCOUNT;
  if (count && !params->rgvarg) return E_INVALIDARG;

  std::vector<win::Variant> args(count);
  std::vector<VARIANT> values(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t position = count - 1 - i;  // Automation passes the last parameter first
    // Copied (by value or by reference) as the type its type byte asks for.
    const HRESULT hr = VariantChangeType(args[i].get(), &params->rgvarg[position], 0,
                                         static_cast<VARTYPE>(static_cast<BYTE>(entry.paramTypes[i])));
    if (FAILED(hr)) {
      if (argErr) *argErr = static_cast<UINT>(position);
      return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
    }
    values[i] = *args[i].get();  // lent to the member; args keeps ownership
  }
  win::Variant value;
  if (const HRESULT hr = entry.thunk(*this, values.data(), value.get()); FAILED(hr)) {
    FillExcepInfo(hr, excepInfo);
    return DISP_E_EXCEPTION;
  }
  if (result && entry.resultType != VT_EMPTY) *result = value.Detach();
  return S_OK;
}

}  // namespace fw
