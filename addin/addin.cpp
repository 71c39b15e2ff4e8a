#include "addin/addin.h"

#include <utility>

#include "addin/agent_launcher.h"
#include "addin/interface_ids.h"
#include "addin/module_state.h"

HRESULT CAddin::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
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

HRESULT CAddin::OnConnection(IDispatch* Application, int, IDispatch*, SAFEARRAY**) {
  if (!Application) return E_POINTER;
  m_pApplication = fw::ComPtr<IDispatch>::Retain(Application);
  return S_OK;
}

HRESULT CAddin::OnDisconnection(int RemoveMode, SAFEARRAY** custom) {
  // The host calls OnBeginShutdown itself only when it shuts down.
  if (RemoveMode != kExtDmHostShutdown) OnBeginShutdown(custom);
  if (m_hAgentProcess) {
    ::TerminateProcess(m_hAgentProcess.get(), 0);
    m_hAgentProcess.reset();
  }
  m_pApplication.reset();
  return S_OK;
}

HRESULT CAddin::OnAddInsUpdate(SAFEARRAY**) { return S_OK; }

HRESULT CAddin::OnStartupComplete(SAFEARRAY**) {
  fw::KernelHandle agent;
  const HRESULT hr = LaunchAgent(&agent);
  // A replaced agent keeps running; only the newest one is terminated on disconnection.
  if (SUCCEEDED(hr)) m_hAgentProcess = std::move(agent);
  return hr;
}

HRESULT CAddin::OnBeginShutdown(SAFEARRAY**) { return S_OK; }
