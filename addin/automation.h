#pragma once
// Late-bound calls into Outlook's object model by DISPID (the numbers are fixed by Outlook's type
// library, so no GetIDsOfNames round trip is needed), for the add-in's ribbon. Each call reports
// Outlook's HRESULT; an Automation error's description, when Outlook gives one, is handed back.
#include <windows.h>
#include <oaidl.h>

#include "common/win/com_ptr.h"
#include "common/outlook_members.h"
#include "common/win/variant.h"

namespace automation {

// Office's ribbon members (Outlook's own are in common/outlook_members.h).
inline constexpr DISPID kDispidControlContext = 2;              // IRibbonControl.Context, get
inline constexpr DISPID kDispidInvalidateControl = 2;           // IRibbonUI.InvalidateControl(Id)


// A failed call: Outlook's HRESULT and, for DISP_E_EXCEPTION, its description (may be null).
struct CallFailure {
  HRESULT hr = S_OK;
  BSTR description = nullptr;
  CallFailure() = default;
  CallFailure(const CallFailure&) = delete;
  CallFailure& operator=(const CallFailure&) = delete;
  ~CallFailure() { ::SysFreeString(description); }
};

// `args` in the order written (the callee's first argument first); at most four.
HRESULT Call(IDispatch* object, DISPID member, WORD kind, const VARIANT* args, UINT count,
             VARIANT* result, CallFailure* failure);

HRESULT Get(IDispatch* object, DISPID member, VARIANT* result, CallFailure* failure);
// A property that holds an object: S_OK with a null pointer when it holds Nothing.
HRESULT GetObjectProperty(IDispatch* object, DISPID member, win::ComPtr<IDispatch>* result, CallFailure* failure);
HRESULT Put(IDispatch* object, DISPID member, const VARIANT& value, CallFailure* failure);
HRESULT PutText(IDispatch* object, DISPID member, const wchar_t* text, CallFailure* failure);

// An object from a VARIANT argument or result (VT_DISPATCH, VT_UNKNOWN, or either by reference);
// null when it holds none.
win::ComPtr<IDispatch> DispatchOf(const VARIANT& value);

}  // namespace automation
