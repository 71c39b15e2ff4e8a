#pragma once
// Dispatch and interface maps of an automation object (fw::AutomationTarget): tables that bind
// Automation members (name, DISPID, parameter types, result type) to C++ member functions, and
// extra interface ids to the object's IDispatch.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <type_traits>
#include <utility>

#include "agent/framework/ui/cmd_target.h"
#include "agent/framework/ole/dispatch_param_types.h"
#include "agent/framework/ole/ole_exception.h"
#include "agent/framework/ole/ole_text.h"

namespace fw {

// Calls one member: args holds the parameters in declaration order, each already coerced to its
// type byte; result (VT_EMPTY on entry) receives the member's result. May throw OleException.
using DispatchThunk = void (*)(CCmdTarget& target, VARIANT* args, VARIANT* result);

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

struct InterfaceEntry {
  const IID* iid;  // null ends the table; the id is answered with the object's IDispatch
};

struct InterfaceMap {
  const InterfaceMap* base;
  const InterfaceEntry* entries;
};

constexpr DispatchEntry kEndOfDispatchMap{nullptr, DISPID_UNKNOWN, nullptr, VT_EMPTY, nullptr};
constexpr InterfaceEntry kEndOfInterfaceMap{nullptr};

namespace dispatch_detail {

template <typename T>
T ArgumentFrom(const VARIANT& v) {
  const auto require = [&v](VARTYPE vt) {
    if (v.vt != vt) ThrowOleException(DISP_E_TYPEMISMATCH);
  };
  if constexpr (std::is_same_v<T, IDispatch*>) {
    require(VT_DISPATCH);
    return v.pdispVal;
  } else if constexpr (std::is_same_v<T, IUnknown*>) {
    require(VT_UNKNOWN);
    return v.punkVal;
  } else if constexpr (std::is_same_v<T, short>) {
    require(VT_I2);
    return v.iVal;
  } else if constexpr (std::is_same_v<T, long>) {
    require(VT_I4);
    return v.lVal;
  } else if constexpr (std::is_same_v<T, double>) {
    if (v.vt != VT_R8 && v.vt != VT_DATE) ThrowOleException(DISP_E_TYPEMISMATCH);
    return v.dblVal;
  } else if constexpr (std::is_same_v<T, std::string>) {
    require(VT_BSTR);
    return BstrToAnsi(v.bstrVal);
  } else if constexpr (std::is_same_v<T, VARIANT>) {
    return v;  // borrowed: valid for the duration of the call
  } else {
    static_assert(sizeof(T) == 0, "parameter type not supported by dispatch maps");
  }
}

template <typename R>
void StoreResult(R value, VARIANT* result) {
  if constexpr (std::is_same_v<R, long>) {
    result->vt = VT_I4;
    result->lVal = value;
  } else if constexpr (std::is_same_v<R, short>) {
    result->vt = VT_I2;
    result->iVal = value;
  } else if constexpr (std::is_same_v<R, double>) {
    result->vt = VT_R8;
    result->dblVal = value;
  } else if constexpr (std::is_same_v<R, std::string>) {
    BSTR text = AnsiToBstr(value.c_str());
    if (!text) ThrowOleException(E_OUTOFMEMORY);
    result->vt = VT_BSTR;
    result->bstrVal = text;
  } else {
    static_assert(sizeof(R) == 0, "result type not supported by dispatch maps");
  }
}

template <typename M>
struct MemberTraits;
template <typename C, typename R, typename... A>
struct MemberTraits<R (C::*)(A...)> {
  using Class = C;
  using Result = R;
  static constexpr size_t kArity = sizeof...(A);
  template <auto Method, size_t... I>
  static void Call(C& self, VARIANT* args, VARIANT* result, std::index_sequence<I...>) {
    if constexpr (std::is_void_v<R>) {
      (self.*Method)(ArgumentFrom<std::decay_t<A>>(args[I])...);
    } else {
      StoreResult<R>((self.*Method)(ArgumentFrom<std::decay_t<A>>(args[I])...), result);
    }
  }
};

template <auto Method>
void Thunk(CCmdTarget& target, VARIANT* args, VARIANT* result) {
  using Traits = MemberTraits<decltype(Method)>;
  auto& self = static_cast<typename Traits::Class&>(target);
  Traits::template Call<Method>(self, args, result, std::make_index_sequence<Traits::kArity>{});
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
