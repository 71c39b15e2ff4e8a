#pragma once
// Loads COM add-ins as Outlook does at start-up (Software\Microsoft\Office\Outlook\Addins of HKCU,
// then of HKLM for the add-ins the user has not listed; LoadBehavior 3), drives them through
// IDTExtensibility2, and times and logs every call.
#include <objbase.h>

#include <string>
#include <vector>

#include "common/win/com_ptr.h"
#include "tools/outlook-sim/dispatch_object.h"
#include "tools/outlook-sim/idt_extensibility2.h"
#include "tools/outlook-sim/ribbon_host.h"

namespace sim {

class AddinHost {
 public:
  AddinHost() = default;
  AddinHost(const AddinHost&) = delete;
  AddinHost& operator=(const AddinHost&) = delete;
  ~AddinHost();

  // The Application the add-ins are connected to.
  void Attach(DispatchObject* application) { app_ = application; }
  // Where connected add-ins' ribbons are hosted.
  void SetRibbonHost(RibbonHost* ribbons) { ribbons_ = ribbons; }
  // OnConnection(ext_cm_Startup) for every add-in to load, then OnStartupComplete for each.
  // References the add-ins take on the Application during their calls count as the simulator's
  // own (Outlook's add-ins are part of Outlook, not its clients).
  void LoadAll(DispatchObject* application);
  // The user enabling an add-in while Outlook runs: loads it and calls
  // OnConnection(ext_cm_AfterStartup); no OnStartupComplete follows.
  void ConnectAfterStartup(const std::string& progId);
  // The user removing an add-in: OnDisconnection(ext_dm_UserClosed), then Release.
  void Remove(const std::string& progId);
  // Outlook's shutdown: OnBeginShutdown for each, then OnDisconnection(ext_dm_HostShutdown) and
  // Release for each.
  void ShutdownAll();

 private:
  struct Loaded {
    std::string progId;
    win::ComPtr<IDTExtensibility2> addin;
    win::ComPtr<IDispatch> instance;  // the COMAddIn object handed to OnConnection
  };
  // Creates the add-in and connects it; false (logged) when that failed.
  bool Load(const std::wstring& progId, ExtConnectMode mode);
  void Disconnect(Loaded& a, ExtDisconnectMode mode);
  // Runs one add-in call, logs its result and time, and books the Application references it
  // took or gave back as the simulator's own.
  template <typename Call>
  HRESULT Timed(const std::string& progId, const std::string& what, Call call);
  ULONG ReleaseAddin(Loaded& a);

  DispatchObject* app_ = nullptr;
  RibbonHost* ribbons_ = nullptr;

  std::vector<Loaded> loaded_;
};

}  // namespace sim
