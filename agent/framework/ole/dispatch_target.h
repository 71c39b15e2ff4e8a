#pragma once
// An automation object whose IDispatch is driven by a dispatch map. Derived classes override
// GetDispatchMap, chaining to this class's (empty) map, and answer further interface ids (such as
// event interfaces) with GetInterfaceHook; the constructor of an automation object calls
// EnableAutomation().
#include <windows.h>
#include <oleauto.h>

#include "agent/framework/ole/automation_object.h"
#include "agent/framework/ole/dispatch_map.h"

namespace fw {

class AutomationTarget : public AutomationObject {
 public:
  // The current reference count (diagnostics and tests).
  ULONG RefCount();

  // Names are looked up without regard to case; members have no named parameters.
  HRESULT DispGetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  // A DISPID missing from the map, or a call that is neither a method call nor a property get,
  // gives DISP_E_MEMBERNOTFOUND. Arguments are coerced to the member's parameter types
  // (DISP_E_TYPEMISMATCH with *argErr when one does not convert). A member whose C++ types cannot
  // take its arguments or its result fails with DISP_E_EXCEPTION, the reason in *excepInfo.
  HRESULT DispInvoke(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* excepInfo, UINT* argErr) override;

 protected:
  virtual const DispatchMap* GetDispatchMap() const;

 private:
  HRESULT InvokeEntry(const DispatchEntry& entry, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excepInfo, UINT* argErr);
};

}  // namespace fw
