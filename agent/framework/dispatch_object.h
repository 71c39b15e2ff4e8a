#pragma once
// An automation object: a C++ object with a reference-counted IUnknown and an IDispatch driven
// by its dispatch map. Derived classes override GetDispatchMap (members they serve) and
// GetInterfaceMap (further interface ids, such as event interfaces, answered with IDispatch).
#include <windows.h>
#include <oleauto.h>

#include "agent/framework/dispatch_map.h"

namespace fw {

class AutomationObject {
 public:
  AutomationObject() : m_xDispatch(this) {}
  AutomationObject(const AutomationObject&) = delete;
  AutomationObject& operator=(const AutomationObject&) = delete;
  virtual ~AutomationObject() = default;

  // Gives the object its IDispatch; until then only IUnknown answers.
  void EnableAutomation() { m_bAutomationEnabled = true; }
  // The object's IDispatch (null before EnableAutomation), with an added reference if addRef.
  LPDISPATCH GetIDispatch(BOOL addRef);

  // The object's reference count starts at 1 (the creator's reference); the release that takes
  // it to 0 calls OnFinalRelease.
  ULONG ExternalAddRef();
  ULONG ExternalRelease();
  HRESULT ExternalQueryInterface(REFIID iid, void** object);
  ULONG RefCount() const { return static_cast<ULONG>(m_dwRef); }

 protected:
  // Deletes the object. Objects that are not heap-allocated must never get here.
  virtual void OnFinalRelease();
  virtual const DispatchMap* GetDispatchMap() const;
  virtual const InterfaceMap* GetInterfaceMap() const;

 private:
  class XDispatch : public IDispatch {
   public:
    explicit XDispatch(AutomationObject* owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* dispids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) override;

   private:
    AutomationObject* owner_;
  };

  const DispatchEntry* FindEntry(DISPID dispid) const;
  const DispatchEntry* FindEntry(const wchar_t* name) const;
  bool AnswersWithDispatch(REFIID iid) const;
  HRESULT InvokeEntry(const DispatchEntry& entry, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excepInfo, UINT* argError);

  XDispatch m_xDispatch;
  volatile LONG m_dwRef = 1;
  bool m_bAutomationEnabled = false;
};

}  // namespace fw
