#include "addin/addin_factory.h"

#include <memory>
#include <new>

#include "addin/addin.h"
#include "addin/interface_ids.h"
#include "addin/module_state.h"

HRESULT CAddinFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!SameGuid(riid, kIidIUnknown) && !SameGuid(riid, kIidIClassFactory)) return E_NOINTERFACE;
  *ppv = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG CAddinFactory::AddRef() { return static_cast<ULONG>(++m_cRef); }

ULONG CAddinFactory::Release() {
  const LONG count = --m_cRef;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT CAddinFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  struct Destroy {
    void operator()(CAddin* addin) const { delete addin; }
  };
  std::unique_ptr<CAddin, Destroy> addin(new (std::nothrow) CAddin);
  if (!addin) return E_OUTOFMEMORY;
  const HRESULT hr = addin->QueryInterface(riid, ppv);
  if (FAILED(hr)) return hr;
  addin.release();  // the caller holds the only reference now
  ++g_cObjects;
  return S_OK;
}

HRESULT CAddinFactory::LockServer(BOOL lock) {
  if (lock) {
    ++g_cLocks;
  } else {
    --g_cLocks;
  }
  return S_OK;
}
