#pragma once
// IDTExtensibility2, the interface through which an Office host drives its COM add-ins. Declared
// here rather than imported from a type library: an IDispatch whose slots 7 to 11 are these five
// methods, all __stdcall returning HRESULT.
#include <windows.h>
#include <oaidl.h>

// {B65AD801-ABAF-11D0-BB8B-00A0C90F2744}
inline constexpr IID kIidIDTExtensibility2 = {
    0xB65AD801, 0xABAF, 0x11D0, {0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44}};

// ext_ConnectMode: when the host connects an add-in. Loaded at the host's start, it is told
// ext_cm_Startup and later OnStartupComplete; connected any other way, it gets no such call.
inline constexpr int kExtCmAfterStartup = 0;
inline constexpr int kExtCmStartup = 1;

// ext_DisconnectMode: why the host disconnects an add-in.
inline constexpr int kExtDmHostShutdown = 0;
inline constexpr int kExtDmUserClosed = 1;

struct IDTExtensibility2 : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* Application, int ConnectMode,
                                                 IDispatch* AddInInst, SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnDisconnection(int RemoveMode, SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) = 0;
};
