#pragma once
// The COM identity of a framework object: one reference count and, once automation is enabled,
// an IDispatch (also its IUnknown) that forwards to the object's dispatch virtuals. Automation
// objects of the OLE half (fw::AutomationTarget) and every command target of the windowing half
// (CCmdTarget: documents are served to automation clients) build on it.
#include <windows.h>
#include <oaidl.h>

namespace fw {

class AutomationObject {
 public:
  AutomationObject() = default;
  virtual ~AutomationObject();
  AutomationObject(const AutomationObject&) = delete;
  AutomationObject& operator=(const AutomationObject&) = delete;

  // The count starts at 1 (the framework's own reference). When it drops to 0, OnFinalRelease
  // runs (default: delete this).
  void EnableAutomation();
  BOOL IsAutomationEnabled() const { return automation_; }
  // The object's IDispatch (also its IUnknown); null unless automation is enabled.
  IDispatch* GetIDispatch(BOOL bAddRef);
  ULONG InternalAddRef();
  ULONG InternalRelease();
  HRESULT ExternalQueryInterface(REFIID iid, void** ppv);
  virtual void OnFinalRelease();

  // IUnknown and IDispatch are answered by the framework; an override returns the (not yet
  // AddRef'd) pointer for further interface ids, e.g. GetIDispatch(FALSE) for a dual or
  // dispinterface id (an event sink's). Default: none.
  virtual void* GetInterfaceHook(REFIID iid);
  // The dispatch map behind the IDispatch. The defaults describe an empty map: no names
  // (DISP_E_UNKNOWNNAME), no members (DISP_E_MEMBERNOTFOUND), no type information.
  virtual HRESULT DispGetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
  virtual HRESULT DispInvoke(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* excepInfo, UINT* argErr);

 private:
  class DispatchInterface;
  LONG refs_ = 1;
  BOOL automation_ = FALSE;
  DispatchInterface* dispatch_ = nullptr;
};

}  // namespace fw
