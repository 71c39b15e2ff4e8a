// The COM side of CCmdTarget: one reference count per object and an IDispatch whose identity is
// the object's, forwarding to the object's dispatch-map virtuals.
#include "agent/framework/cmd_target.h"

class CCmdTarget::Dispatch final : public IDispatch {
 public:
  explicit Dispatch(CCmdTarget* owner) : owner_(owner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    return owner_->ExternalQueryInterface(iid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_->ExternalAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_->ExternalRelease(); }

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
    return owner_->DispGetIDsOfNames(names, count, lcid, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return owner_->DispInvoke(id, lcid, flags, params, result, excepInfo, argErr);
  }

  CCmdTarget* owner() const { return owner_; }

 private:
  CCmdTarget* owner_;
};

CCmdTarget::~CCmdTarget() { delete dispatch_; }

void CCmdTarget::EnableAutomation() { automation_ = TRUE; }

IDispatch* CCmdTarget::GetIDispatch(BOOL bAddRef) {
  if (!automation_) return nullptr;
  if (!dispatch_) dispatch_ = new Dispatch(this);
  if (bAddRef) InternalAddRef();
  return dispatch_;
}

CCmdTarget* CCmdTarget::FromIDispatch(IDispatch* dispatch) {
  // Only pointers handed out by GetIDispatch are ours; the caller must not pass foreign ones
  // without knowing. A vtable comparison tells them apart.
  static Dispatch probe(nullptr);
  if (!dispatch || *reinterpret_cast<void**>(dispatch) != *reinterpret_cast<void**>(&probe)) return nullptr;
  return static_cast<Dispatch*>(dispatch)->owner();
}

ULONG CCmdTarget::InternalAddRef() { return static_cast<ULONG>(++refs_); }

ULONG CCmdTarget::InternalRelease() {
  if (refs_ <= 0) return 0;  // already released: never run OnFinalRelease twice
  const LONG left = --refs_;
  if (left == 0) OnFinalRelease();
  return static_cast<ULONG>(left);
}

HRESULT CCmdTarget::ExternalQueryInterface(REFIID iid, void** ppv) {
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

void CCmdTarget::OnFinalRelease() { delete this; }

void* CCmdTarget::GetInterfaceHook(REFIID) { return nullptr; }

HRESULT CCmdTarget::DispGetIDsOfNames(LPOLESTR*, UINT count, LCID, DISPID* ids) {
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT CCmdTarget::DispInvoke(DISPID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return DISP_E_MEMBERNOTFOUND;
}
