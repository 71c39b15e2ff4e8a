#pragma once
// The Automation client: one IDispatch, called late-bound by DISPID with typed arguments and
// results. Nothing throws: every call answers with its status and, when the object raised an
// exception, the description it gave, so the caller decides what a failure means.
#include <windows.h>
#include <oleauto.h>

#include <array>
#include <string>

#include "common/win/com_ptr.h"
#include "common/win/variant.h"

namespace fw {

// How one call went: the HRESULT (the object's own code when it raised an exception) and the
// object's description of the exception, if it gave one.
struct CallStatus {
  HRESULT hr = S_OK;
  std::string description;

  bool Ok() const { return SUCCEEDED(hr); }
  // The description, or "error 0x8000FFFF" when there is none.
  std::string Reason() const;
};

// Typed argument values for Dispatch::Call, passed by value as Automation expects.
win::Variant ArgText(const std::string& text);  // BSTR, from the ANSI code page
win::Variant ArgShort(short value);               // VT_I2
win::Variant ArgLong(long value);                 // VT_I4

class Dispatch {
 public:
  Dispatch() = default;
  // Adds a reference of its own: for pointers lent to us (an event's item).
  static Dispatch Borrow(IDispatch* dispatch) { return Dispatch(win::ComPtr<IDispatch>::Retain(dispatch)); }

  // Creates the object registered under progId (in-process or local server).
  static CallStatus Create(const char* progId, Dispatch* out);

  IDispatch* get() const { return p_.get(); }
  explicit operator bool() const { return static_cast<bool>(p_); }
  void reset() { p_.reset(); }

  // Property reads, coerced to the asked type. Text arrives in the ANSI code page (a null BSTR is
  // empty, embedded zeros are kept); an object result is held with a reference of its own.
  CallStatus Get(DISPID id, win::Variant* value) const;  // as the object gives it
  CallStatus Get(DISPID id, std::string* value) const;
  CallStatus Get(DISPID id, long* value) const;
  CallStatus GetDate(DISPID id, DATE* value) const;
  CallStatus Get(DISPID id, Dispatch* value) const;

  // A method call with the arguments in their declared order; result may be null.
  template <typename... Args>
  CallStatus Call(DISPID id, win::Variant* result, Args&&... args) const {
    std::array<win::Variant, sizeof...(Args)> values{std::forward<Args>(args)...};
    // Automation takes the last argument first.
    std::array<VARIANTARG, sizeof...(Args) + 1> reversed{};
    for (size_t i = 0; i < values.size(); ++i) reversed[values.size() - 1 - i] = *values[i].get();
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(values.size()), 0};
    return Invoke(id, DISPATCH_METHOD, &params, result);
  }

 private:
  explicit Dispatch(win::ComPtr<IDispatch> p) : p_(std::move(p)) {}
  CallStatus Invoke(DISPID id, WORD flags, DISPPARAMS* params, win::Variant* result) const;
  // The property coerced to `type`, handed to take(VARIANT&) when the call succeeded.
  template <typename Take>
  CallStatus GetAs(DISPID id, VARTYPE type, Take take) const;

  win::ComPtr<IDispatch> p_;
};

}  // namespace fw
