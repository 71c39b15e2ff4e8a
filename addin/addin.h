#pragma once
// CAddin, the object Outlook drives through IDTExtensibility2: it starts the agent when the
// host's start-up is complete (or at once, when the add-in is connected later, as after the user
// enables it) and ends it when the host disconnects the add-in.
#include <windows.h>

#include "addin/agent_launcher.h"
#include "addin/idt_extensibility2.h"
#include "common/win/com_ptr.h"

class CAddin final : public IDTExtensibility2 {
 public:
  CAddin() = default;
  CAddin(const CAddin&) = delete;
  CAddin& operator=(const CAddin&) = delete;

  // IUnknown: IDTExtensibility2, IUnknown and IDispatch share this one interface pointer.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch: no late binding is offered; each member fails and writes nothing.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override;

  // IDTExtensibility2
  HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* Application, int ConnectMode,
                                         IDispatch* AddInInst, SAFEARRAY** custom) override;
  HRESULT STDMETHODCALLTYPE OnDisconnection(int RemoveMode, SAFEARRAY** custom) override;
  HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) override;
  HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) override;
  HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) override;

 private:
  ~CAddin();
  friend class CAddinFactory;  // destroys an object nobody received

  // One agent per add-in object: a launch under way, or its agent running, is not repeated.
  void StartAgent();
  void EndAgent();

  LONG m_cRef = 0;
  win::ComPtr<IDispatch> m_pApplication;  // held from OnConnection to OnDisconnection
  win::ComPtr<AgentLaunch> m_pLaunch;     // the agent's launch, until the agent is ended
};
