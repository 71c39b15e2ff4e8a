#pragma once
// The COM side of the add-in: who it is, the interface Outlook drives it through, the add-in
// object (CAddin) and its class factory. The module uses no COM library functions, so it keeps
// its own copies of the interface ids and compares them byte for byte.
#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

#include <cstddef>
#include <cstring>

#include "addin/agent_launcher.h"
#include "addin/ribbon.h"
#include "common/win/com_ptr.h"

// {8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}
inline constexpr CLSID kClsidAddin = {
    0x8A61C2E4, 0x3B7F, 0x4C19, {0x9D, 0x25, 0x6E, 0x0B, 0x7F, 0x41, 0xA3, 0xC8}};
// The same class id as registry text: braces included, letter case exactly as published.
inline constexpr char kClsidAddinText[] = "{8A61C2E4-3B7F-4c19-9D25-6E0B7F41A3C8}";
inline constexpr char kAddinProgId[] = "Brisomel.Addin";
inline constexpr char kAddinDescription[] = "Brisomel COM Addin";
inline constexpr char kAddinHostApplication[] = "Outlook";
// Office's "load at start-up and connect" behaviour.
inline constexpr DWORD kAddinLoadBehavior = 3;

inline constexpr IID kIidIUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID kIidIClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID kIidIDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {B65AD801-ABAF-11D0-BB8B-00A0C90F2744}
inline constexpr IID kIidIDTExtensibility2 = {
    0xB65AD801, 0xABAF, 0x11D0, {0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44}};

// The module is built without C++ exceptions and linked without the C++ runtime library, whose
// allocation functions would bring its whole exception machinery along. Objects are made with
// `new (OrNull{}) T`, which yields null when memory runs out; a plain `new` has no definition
// here and fails to link. `delete` returns the block (both are defined in dll_entry.cpp).
struct OrNull {};
void* operator new(std::size_t size, OrNull) noexcept;

inline bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// ext_ConnectMode: when the host connects an add-in. Loaded at the host's start, it is told
// ext_cm_Startup and later OnStartupComplete; connected any other way, it gets no such call.
inline constexpr int kExtCmAfterStartup = 0;
inline constexpr int kExtCmStartup = 1;

// ext_DisconnectMode: why the host disconnects an add-in.
inline constexpr int kExtDmHostShutdown = 0;
inline constexpr int kExtDmUserClosed = 1;

// IDTExtensibility2, the interface through which an Office host drives its COM add-ins. Declared
// here rather than imported from a type library: an IDispatch whose slots 7 to 11 are these five
// methods, all __stdcall returning HRESULT.
struct IDTExtensibility2 : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* Application, int ConnectMode,
                                                 IDispatch* AddInInst, SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnDisconnection(int RemoveMode, SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) = 0;
};

// What decides whether the host may unload the module. Plain integers: every call arrives on the
// host's one apartment thread.
extern LONG g_cObjects;  // live CAddin objects (class factories are not counted)
extern LONG g_cLocks;    // IClassFactory::LockServer count

// CAddin, the object Outlook drives through IDTExtensibility2: it starts the agent when the
// host's start-up is complete (or at once, when the add-in is connected later, as after the user
// enables it) and ends it when the host disconnects the add-in.
class CAddin final : public IDTExtensibility2 {
 public:
  CAddin() = default;
  CAddin(const CAddin&) = delete;
  CAddin& operator=(const CAddin&) = delete;

  // IUnknown: IDTExtensibility2, IUnknown and IDispatch share this one interface pointer;
  // IRibbonExtensibility is the ribbon object inside this one.
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
  win::ComPtr<AgentLaunch> launch_;     // the agent's launch, until the agent is ended
  RibbonServer ribbon_{static_cast<IDTExtensibility2*>(this), m_pApplication};
};

// CAddinFactory, the class factory of CAddin: one per DllGetClassObject call. Factories do not
// keep the module loaded; only add-in objects and LockServer do.
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
