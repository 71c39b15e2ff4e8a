#include "agent/framework/ole/automation_object.h"

#include "agent/framework/shared.h"

namespace fw {

// No C++ exception of ours may reach the COM caller: the methods that run our code answer it as
// a failed call.
class AutomationObject::DispatchInterface final : public IDispatch {
 public:
  explicit DispatchInterface(AutomationObject* owner) : owner_(owner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    return owner_->ExternalQueryInterface(iid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_->InternalAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override {
    try {
      return owner_->InternalRelease();  // the last one closes a document: our code runs
    } catch (...) {
      ReportUnhandledException("IDispatch::Release");
      return 0;
    }
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    try {
      return owner_->DispGetIDsOfNames(names, count, lcid, ids);
    } catch (...) {
      return FailureOfComCall();
    }
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    try {
      return owner_->DispInvoke(id, lcid, flags, params, result, excepInfo, argErr);
    } catch (...) {
      return FailureOfComCall();
    }
  }

 private:
  AutomationObject* owner_;
};

AutomationObject::~AutomationObject() { delete dispatch_; }

void AutomationObject::EnableAutomation() { automation_ = TRUE; }

IDispatch* AutomationObject::GetIDispatch(BOOL bAddRef) {
  if (!automation_) return nullptr;
  if (!dispatch_) dispatch_ = new DispatchInterface(this);
  if (bAddRef) InternalAddRef();
  return dispatch_;
}

ULONG AutomationObject::InternalAddRef() { return static_cast<ULONG>(++refs_); }

ULONG AutomationObject::InternalRelease() {
  if (refs_ <= 0) return 0;  // already released: never run OnFinalRelease twice
  const LONG left = --refs_;
  if (left == 0) OnFinalRelease();
  return static_cast<ULONG>(left);
}

HRESULT AutomationObject::ExternalQueryInterface(REFIID iid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IDispatch* dispatch = GetIDispatch(FALSE);
  if (!dispatch) return E_NOINTERFACE;
  void* found = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    found = dispatch;
  } else {
    found = GetInterfaceHook(iid);
  }
  if (!found) return E_NOINTERFACE;
  InternalAddRef();
  *ppv = found;
  return S_OK;
}

void AutomationObject::OnFinalRelease() { delete this; }

void* AutomationObject::GetInterfaceHook(REFIID) { return nullptr; }

HRESULT AutomationObject::DispGetIDsOfNames(LPOLESTR*, UINT count, LCID, DISPID* ids) {
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT AutomationObject::DispInvoke(DISPID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return DISP_E_MEMBERNOTFOUND;
}

}  // namespace fw
