#include "addin/addin.h"

#include <memory>

LONG g_cObjects = 0;
LONG g_cLocks = 0;

HRESULT CAddin::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (SameGuid(riid, kIidIRibbonExtensibility)) {
    *ppv = static_cast<IRibbonExtensibility*>(&ribbon_);
    AddRef();
    return S_OK;
  }
  if (!SameGuid(riid, kIidIDTExtensibility2) && !SameGuid(riid, kIidIUnknown) &&
      !SameGuid(riid, kIidIDispatch)) {
    return E_NOINTERFACE;
  }
  *ppv = static_cast<IDTExtensibility2*>(this);
  AddRef();
  return S_OK;
}

ULONG CAddin::AddRef() { return static_cast<ULONG>(++m_cRef); }

ULONG CAddin::Release() {
  const LONG count = --m_cRef;
  if (count == 0) {
    --g_cObjects;
    delete this;
  }
  return static_cast<ULONG>(count);
}

HRESULT CAddin::GetTypeInfoCount(UINT*) { return E_FAIL; }
HRESULT CAddin::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_FAIL; }
HRESULT CAddin::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_FAIL; }
HRESULT CAddin::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_FAIL;
}

// An object that goes without being disconnected takes its agent along: nobody could end it later.
CAddin::~CAddin() { EndAgent(); }

void CAddin::StartAgent() {
  if (launch_ && launch_->Active()) return;
  EndAgent();  // a launch that failed, or an agent that has ended
  launch_ = win::ComPtr<AgentLaunch>::Attach(AgentLaunch::Begin());
}

void CAddin::EndAgent() {
  if (!launch_) return;
  launch_->Cancel();
  launch_.reset();
}

HRESULT CAddin::OnConnection(IDispatch* Application, int ConnectMode, IDispatch*, SAFEARRAY**) {
  if (!Application) return E_POINTER;
  m_pApplication = win::ComPtr<IDispatch>::Retain(Application);
  // Connected after the host's start-up (the user enabled the add-in, or re-enabled it after the
  // host had disabled it): no OnStartupComplete follows, so the agent starts now.
  if (ConnectMode != kExtCmStartup) StartAgent();
  return S_OK;
}

HRESULT CAddin::OnDisconnection(int RemoveMode, SAFEARRAY** custom) {
  // The host calls OnBeginShutdown itself only when it shuts down.
  if (RemoveMode != kExtDmHostShutdown) OnBeginShutdown(custom);
  EndAgent();
  ribbon_.Disconnect();
  m_pApplication.reset();
  return S_OK;
}

HRESULT CAddin::OnAddInsUpdate(SAFEARRAY**) { return S_OK; }

// Returns at once: the launch and any message about it happen on the launch's own thread.
HRESULT CAddin::OnStartupComplete(SAFEARRAY**) {
  StartAgent();
  return S_OK;
}

HRESULT CAddin::OnBeginShutdown(SAFEARRAY**) { return S_OK; }

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
  std::unique_ptr<CAddin, Destroy> addin(new (OrNull{}) CAddin);
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
