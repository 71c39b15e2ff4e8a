#pragma once
// The Office add-in interface, declared here (no Office headers): an IDispatch-derived interface
// whose methods Office calls through the vtable.
#include <oaidl.h>

namespace sim {

// {B65AD801-ABAF-11D0-BB8B-00A0C90F2744}
constexpr IID kIidIDTExtensibility2 = {0xB65AD801, 0xABAF, 0x11D0,
                                       {0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44}};

enum ExtConnectMode { ext_cm_AfterStartup = 0, ext_cm_Startup = 1, ext_cm_External = 2, ext_cm_CommandLine = 3 };
enum ExtDisconnectMode { ext_dm_HostShutdown = 0, ext_dm_UserClosed = 1 };

struct IDTExtensibility2 : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* application, ExtConnectMode connectMode,
                                                 IDispatch* addInInst, SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnDisconnection(ExtDisconnectMode removeMode, SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) = 0;
};

}  // namespace sim
