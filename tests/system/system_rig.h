#pragma once
// The whole system for one test: the stand-in gateway in this process, the Outlook simulator
// running a script, and the real agent, started hidden by the test (as the add-in starts it) or
// by the real add-in that the simulator loads. Every registry key the system writes is removed
// before and after; every process the rig started (or the add-in started for it) is ended.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/harness/process.h"
#include "tests/harness/registry.h"
#include "tests/system/log_follower.h"
#include "tests/system/sim_gate.h"
#include "tools/gateway/gateway_server.h"
#include "tools/outlook-sim/driver/sim_driver.h"

namespace systemtest {

constexpr char kSettingsKey[] = "Software\\Brisomel\\tarnwick\\1.0";
constexpr char kAgentCaption[] = "Brisomel";
constexpr char kAddinCaption[] = "Brisomel Addin";
constexpr char kMyNumber[] = "555-0199";

// Script lines defining a reminder-call appointment due in 15 minutes; its "notifycall" is
// `phone` (no property when empty), its subject `subject`.
std::string ReminderItem(const std::string& name, const std::string& subject, const std::string& phone);

// "phoneno" and the subject line of a recorded call request.
std::string PhoneOf(const gateway::RecordedRequest& request);
std::string TextOf(const gateway::RecordedRequest& request);
std::vector<std::string> PhonesOf(const std::vector<gateway::RecordedRequest>& requests);

// Local time minutes from now, as the simulator's absolute time "yyyy-mm-dd hh:mm:ss": an
// appointment's start that stays put however often its reminder comes (a relative start moves
// with each event).
std::string LocalTimeIn(int minutes);

// A loopback port nobody listens on: one the system just handed out and took back.
uint16_t ClosedPort();

class SystemRig {
 public:
  SystemRig();
  ~SystemRig();
  SystemRig(const SystemRig&) = delete;
  SystemRig& operator=(const SystemRig&) = delete;

  bool Ok() const { return ok_; }
  gateway::Server& Gateway() { return gateway_; }

  // host 127.0.0.1, the gateway's port, my number, first and last name (REG_SZ / REG_DWORD).
  void WriteGoodSettings();
  void WriteSetting(const char* name, DWORD type, const std::vector<unsigned char>& bytes);
  void WritePort(uint16_t port);

  // Starts the simulator with `script` (a long "sleep" is appended so it outlives the test)
  // and waits for its Ready line. With loadAddins the registered add-ins are loaded;
  // extraArgs go to its command line as they are.
  bool StartOutlook(const std::string& script, bool loadAddins = false, const std::wstring& extraArgs = L"");
  LogFollower& OutlookLog() { return *log_; }
  HANDLE OutlookProcess() const { return sim_ ? sim_->Process() : nullptr; }
  // Ends the simulator as Outlook's own shutdown does (add-ins get OnDisconnection); true when
  // it ended in time.
  bool QuitOutlook();
  // Ends the simulator the hard way, as a crash would (the gate's objects are abandoned).
  void KillOutlook();

  // Starts the agent as the add-in does (application name, command line " /hidewindow yes")
  // and waits until its sink is advised (the n-th "Advise cookie=" line).
  bool StartAgent();
  // The same for a copy of the agent elsewhere (the benchmarks measure a copy of their own).
  bool StartAgentFrom(const std::string& exePath);
  // Any other client of the simulator, started with commandLine, awaited like the agent.
  bool StartClient(const std::string& exePath, const std::string& commandLine);
  harness::Process& Agent() { return agents_.back(); }
  size_t AdvisesSoFar() const { return advises_; }
  // Waits for one more "Advise cookie=" line than seen so far (for agents the add-in starts).
  bool WaitForNextAdvise(DWORD timeoutMs = 30000);

  // The real add-in, registered for the current user (and unregistered at the end).
  bool RegisterAddin();
  // Agent processes started from exePath by someone else (the add-in): ended at the end.
  void AdoptAgentsOf(const std::string& exePath) { adoptedImages_.push_back(exePath); }

  // Lets a script waiting in "wait-advise <t> <n>" go on (see SimGate).
  bool OpenGate(QuietSink** sink = nullptr);
  // Advises a sink of the caller's on the simulator (as a gate does) and waits for its Advise.
  bool AdviseSink(IDispatch* sink);
  std::string GateError() const { return gate_.LastError(); }
  // Unadvises every gate sink (while the simulator serves calls, not while it fires).
  void CloseGates() { gate_.Close(); }

  // Waits (pumping) until the gateway has recorded n requests.
  bool WaitForRequests(size_t n, DWORD timeoutMs);

 private:
  void EndEverything();

  bool ok_ = false;
  std::vector<std::unique_ptr<harness::ScopedRegistryKey>> keys_;
  gateway::Server gateway_;
  std::unique_ptr<simdriver::SimProcess> sim_;
  std::unique_ptr<LogFollower> log_;
  std::vector<harness::Process> agents_;
  std::vector<std::string> adoptedImages_;
  size_t advises_ = 0;
  bool addinRegistered_ = false;
  SimGate gate_;
};

}  // namespace systemtest
