#include "agent/framework/dispatch_object.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "agent/framework/ole_variant.h"

namespace fw {
namespace {

const DispatchEntry kNoDispatchEntries[] = {kEndOfDispatchMap};
const DispatchMap kRootDispatchMap{nullptr, kNoDispatchEntries};
const InterfaceEntry kNoInterfaceEntries[] = {kEndOfInterfaceMap};
const InterfaceMap kRootInterfaceMap{nullptr, kNoInterfaceEntries};

size_t ParamCount(const DispatchEntry& entry) { return entry.paramTypes ? std::strlen(entry.paramTypes) : 0; }

// Copies one incoming argument (by value or by reference) as the type its type byte asks for.
HRESULT CoerceArgument(const VARIANTARG& source, BYTE type, VARIANT* out) {
  if (type == VT_VARIANT) return VariantCopyInd(out, &source);
  const VARTYPE target = type == kVtAnsiText ? VARTYPE(VT_BSTR) : VARTYPE(type);
  return VariantChangeType(out, &source, 0, target);
}

}  // namespace

LPDISPATCH AutomationObject::GetIDispatch(BOOL addRef) {
  if (!m_bAutomationEnabled) return nullptr;
  if (addRef) ExternalAddRef();
  return &m_xDispatch;
}

ULONG AutomationObject::ExternalAddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_dwRef)); }

ULONG AutomationObject::ExternalRelease() {
  const LONG count = InterlockedDecrement(&m_dwRef);
  if (count == 0) OnFinalRelease();
  return static_cast<ULONG>(count);
}

HRESULT AutomationObject::ExternalQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || (m_bAutomationEnabled && AnswersWithDispatch(iid))) {
    *object = static_cast<IDispatch*>(&m_xDispatch);
    ExternalAddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

void AutomationObject::OnFinalRelease() { delete this; }

const DispatchMap* AutomationObject::GetDispatchMap() const { return &kRootDispatchMap; }

const InterfaceMap* AutomationObject::GetInterfaceMap() const { return &kRootInterfaceMap; }

bool AutomationObject::AnswersWithDispatch(REFIID iid) const {
  if (IsEqualIID(iid, IID_IDispatch)) return true;
  for (const InterfaceMap* map = GetInterfaceMap(); map; map = map->base) {
    for (const InterfaceEntry* entry = map->entries; entry && entry->iid; ++entry) {
      if (IsEqualIID(iid, *entry->iid)) return true;
    }
  }
  return false;
}

const DispatchEntry* AutomationObject::FindEntry(DISPID dispid) const {
  for (const DispatchMap* map = GetDispatchMap(); map; map = map->base) {
    for (const DispatchEntry* entry = map->entries; entry && entry->name; ++entry) {
      if (entry->dispid == dispid) return entry;
    }
  }
  return nullptr;
}

const DispatchEntry* AutomationObject::FindEntry(const wchar_t* name) const {
  if (!name) return nullptr;
  for (const DispatchMap* map = GetDispatchMap(); map; map = map->base) {
    for (const DispatchEntry* entry = map->entries; entry && entry->name; ++entry) {
      if (lstrcmpiW(AnsiToWide(entry->name).c_str(), name) == 0) return entry;
    }
  }
  return nullptr;
}

HRESULT AutomationObject::InvokeEntry(const DispatchEntry& entry, WORD flags, DISPPARAMS* params,
                                      VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) {
  if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
  if (!params) return E_INVALIDARG;
  if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  const size_t count = ParamCount(entry);
  if (params->cArgs != count) return DISP_E_BADPARAMCOUNT;
  if (count && !params->rgvarg) return E_INVALIDARG;

  try {
    std::vector<Variant> args(count);
    for (size_t i = 0; i < count; ++i) {
      const size_t position = count - 1 - i;  // Automation passes the last parameter first
      const HRESULT hr = CoerceArgument(params->rgvarg[position], static_cast<BYTE>(entry.paramTypes[i]),
                                        args[i].get());
      if (FAILED(hr)) {
        if (argError) *argError = static_cast<UINT>(position);
        return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
      }
    }
    std::vector<VARIANT> values(count);
    for (size_t i = 0; i < count; ++i) values[i] = *args[i].get();
    Variant value;
    entry.thunk(*this, values.data(), value.get());
    if (result && entry.resultType != VT_EMPTY) *result = value.Detach();
    return S_OK;
  } catch (const OleException& error) {
    FillExcepInfo(error, excepInfo);
    return DISP_E_EXCEPTION;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT AutomationObject::XDispatch::QueryInterface(REFIID iid, void** object) {
  return owner_->ExternalQueryInterface(iid, object);
}

ULONG AutomationObject::XDispatch::AddRef() { return owner_->ExternalAddRef(); }

ULONG AutomationObject::XDispatch::Release() { return owner_->ExternalRelease(); }

HRESULT AutomationObject::XDispatch::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT AutomationObject::XDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT AutomationObject::XDispatch::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                                   DISPID* dispids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (!names || !dispids) return E_POINTER;
  if (count == 0) return S_OK;
  // Members have no named parameters: only the member name itself can be found.
  for (UINT i = 0; i < count; ++i) dispids[i] = DISPID_UNKNOWN;
  const DispatchEntry* entry = owner_->FindEntry(names[0]);
  if (!entry) return DISP_E_UNKNOWNNAME;
  dispids[0] = entry->dispid;
  return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT AutomationObject::XDispatch::Invoke(DISPID dispid, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                            VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const DispatchEntry* entry = owner_->FindEntry(dispid);
  if (!entry) return DISP_E_MEMBERNOTFOUND;
  // The handler may run a nested message loop; keep the object alive until it returns.
  owner_->ExternalAddRef();
  const HRESULT hr = owner_->InvokeEntry(*entry, flags, params, result, excepInfo, argError);
  owner_->ExternalRelease();
  return hr;
}

}  // namespace fw
