#pragma once
// A stand-in for the host's Application object. It counts references and fails the running test
// on any other call, since the add-in only holds the Application and never uses it.
#include <windows.h>
#include <oaidl.h>

namespace addin_test {

class FakeApplication final : public IDispatch {
 public:
  LONG References() const { return references_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references_); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override;

 private:
  LONG references_ = 1;  // the host's own
};

}  // namespace addin_test
