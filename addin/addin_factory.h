#pragma once
// CAddinFactory, the class factory of CAddin: one per DllGetClassObject call. Factories do not
// keep the module loaded; only add-in objects and LockServer do.
#include <windows.h>
#include <unknwn.h>

class CAddinFactory final : public IClassFactory {
 public:
  CAddinFactory() = default;
  CAddinFactory(const CAddinFactory&) = delete;
  CAddinFactory& operator=(const CAddinFactory&) = delete;
  ~CAddinFactory() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  LONG m_cRef = 0;
};
