#pragma once
// Base of the simulated Automation objects: reference counting, and an IDispatch that answers the
// members of its object kind (by DISPID and invoke kind), logs every call in one line and raises
// the scripted Automation exceptions.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "tools/outlook-sim/script/members.h"
#include "tools/outlook-sim/script/script.h"

namespace sim {

class DispatchObject : public IDispatch {
 public:
  DispatchObject(ObjectKind kind, std::string logName);
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

  const std::string& LogName() const { return logName_; }
  LONG RefCount() const { return refs_; }
  // References the simulator itself holds: the baseline of the reference count.
  LONG OwnRefs() const { return ownRefs_; }
  void SetOwnRefs(LONG refs) { ownRefs_ = refs; }
  // References held by others. COM drops the references of the running-object-table entry when
  // the last client leaves, so a count below the baseline lowers the baseline.
  LONG ExternalRefs() {
    if (refs_ < ownRefs_) ownRefs_ = refs_;
    return refs_ - ownRefs_;
  }

 protected:
  virtual ~DispatchObject() = default;
  // The member's answer: fills *result (never null here) and describes the arguments for the log
  // in *argText, e.g. ("notifycall", VT_I2 1). Argument errors set *argErr.
  virtual HRESULT Answer(const MemberInfo& member, const DISPPARAMS& params, VARIANT* result,
                         UINT* argErr, std::string* argText) = 0;
  // A property put (a member whose kind includes kPropertyPut): takes the value over, or fails.
  virtual HRESULT Put(const MemberInfo&, const VARIANT&) { return DISP_E_MEMBERNOTFOUND; }
  // The description of a scripted failure of the member, or null.
  virtual const Text* FailureOf(Member) const { return nullptr; }
  // The description of a scripted failure of a put of the member, or null.
  virtual const Text* PutFailureOf(Member m) const { return FailureOf(m); }
  // Interfaces beyond IUnknown and IDispatch.
  virtual void* QueryOther(REFIID) { return nullptr; }

 private:
  ObjectKind kind_;
  std::string logName_;
  LONG refs_ = 1;  // the creator's reference
  LONG ownRefs_ = 1;
};

// "get", "method", "put", "putref", or a combination such as "method|get".
std::string InvokeKindText(WORD flags);
// Fills an EXCEPINFO as Outlook does for an Automation error.
void FillException(const Text& description, EXCEPINFO* excep);

}  // namespace sim
