#pragma once
// Dispatch maps of an automation object (fw::AutomationTarget): tables that bind Automation
// members (name, DISPID, parameter types, result type) to C++ member functions.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "agent/framework/ole/automation_object.h"
#include "agent/framework/ole/ole_text.h"

// Parameter-type lists of the members: one VARTYPE byte per parameter, as string literals so that
// lists are written by juxtaposition (VTS_I4 VTS_BSTR); incoming arguments are coerced to them.
#define VTS_I4 "\x03"        // long
#define VTS_BSTR "\x08"      // std::string (text in the ANSI code page)
#define VTS_DISPATCH "\x09"  // IDispatch*
#define VTS_NONE nullptr     // no parameters

namespace fw {

// Calls one member: args holds the parameters in declaration order, each already coerced to its
// type byte; result (VT_EMPTY on entry) receives the member's result. A failure is an argument
// or a result that the member's C++ types cannot take: its HRESULT, which Invoke reports as the
// member's Automation exception.
using DispatchThunk = HRESULT (*)(AutomationObject& target, VARIANT* args, VARIANT* result);

struct DispatchEntry {
  const char* name;        // null ends the table
  DISPID dispid;
  const char* paramTypes;  // VTS_... list; "" or null for none
  VARTYPE resultType;      // VT_EMPTY: no result
  DispatchThunk thunk;
};

struct DispatchMap {
  const DispatchMap* base;  // searched after this one; null for the root
  const DispatchEntry* entries;
};

constexpr DispatchEntry kEndOfDispatchMap{nullptr, DISPID_UNKNOWN, nullptr, VT_EMPTY, nullptr};

namespace dispatch_detail {

template <typename T>
HRESULT ArgumentFrom(const VARIANT& v, T* out) {
  if constexpr (std::is_same_v<T, IDispatch*>) {
    if (v.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
    *out = v.pdispVal;
  } else if constexpr (std::is_same_v<T, long>) {
    if (v.vt != VT_I4) return DISP_E_TYPEMISMATCH;
    *out = v.lVal;
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (v.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    *out = BstrToAnsi(v.bstrVal);
  } else {
    static_assert(sizeof(T) == 0, "parameter type not supported by dispatch maps");
  }
  return S_OK;
}

template <typename R>
HRESULT StoreResult(const R& value, VARIANT* result) {
  if constexpr (std::is_same_v<R, long>) {
    result->vt = VT_I4;
    result->lVal = value;
  } else if constexpr (std::is_same_v<R, std::string>) {
    BSTR text = AnsiToBstr(value.c_str());
    if (!text) return E_OUTOFMEMORY;
    result->vt = VT_BSTR;
    result->bstrVal = text;
  } else {
    static_assert(sizeof(R) == 0, "result type not supported by dispatch maps");
  }
  return S_OK;
}

template <typename M>
struct MemberTraits;
template <typename C, typename R, typename... A>
struct MemberTraits<R (C::*)(A...)> {
  using Class = C;
  static constexpr size_t kArity = sizeof...(A);
  template <auto Method, size_t... I>
  static HRESULT Call(C& self, [[maybe_unused]] VARIANT* args, VARIANT* result, std::index_sequence<I...>) {
    [[maybe_unused]] std::tuple<std::decay_t<A>...> values;
    HRESULT hr = S_OK;
    // In declaration order; the first argument that does not fit ends the call.
    ((hr = SUCCEEDED(hr) ? ArgumentFrom(args[I], &std::get<I>(values)) : hr), ...);
    if (FAILED(hr)) return hr;
    if constexpr (std::is_void_v<R>) {
      (self.*Method)(std::get<I>(values)...);
      return S_OK;
    } else {
      return StoreResult<R>((self.*Method)(std::get<I>(values)...), result);
    }
  }
};

template <auto Method>
HRESULT Thunk(AutomationObject& target, VARIANT* args, VARIANT* result) {
  using Traits = MemberTraits<decltype(Method)>;
  auto& self = static_cast<typename Traits::Class&>(target);
  return Traits::template Call<Method>(self, args, result, std::make_index_sequence<Traits::kArity>{});
}

}  // namespace dispatch_detail

// One dispatch-map entry for a member function, e.g.
//   DispatchFunction<&CSink::OnReminder>("Reminder", 0xF004, VT_EMPTY, VTS_DISPATCH)
template <auto Method>
constexpr DispatchEntry DispatchFunction(const char* name, DISPID dispid, VARTYPE resultType,
                                         const char* paramTypes) {
  return DispatchEntry{name, dispid, paramTypes, resultType, &dispatch_detail::Thunk<Method>};
}

}  // namespace fw
