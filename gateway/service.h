#pragma once
// The running gateway: the store (with the calls a stop interrupted closed), the spool folder,
// the SIP engine, the lines, the dispatcher and the HTTP server, started in that order and
// stopped in reverse.
#include <memory>
#include <string>
#include <thread>

#include "gateway/clock.h"
#include "gateway/config.h"
#include "gateway/dispatcher.h"
#include "gateway/http_api.h"
#include "gateway/registration.h"
#include "gateway/sip_engine.h"
#include "gateway/store.h"

namespace talmery {

class EventLog;

class Gateway {
 public:
  Gateway(const Config& config, EventLog& log, const GatewayClock& clock = SystemClock())
      : config_(config), log_(log), clock_(clock) {}
  ~Gateway() { Stop(0); }
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  // False with a reason when the gateway cannot run (store, spool, address in use ...). The
  // store comes first: while another gateway serves the same database, nothing else is touched.
  bool Start(std::string& error);
  int Port() const { return http_ ? http_->Port() : 0; }
  int PlainPort() const { return http_ ? http_->PlainPort() : 0; }
  // SIGHUP: the HTTPS certificate and key are read again (see HttpApi::Reload); logged.
  bool Reload(std::string& error);
  // Stops taking requests and calls, lets the calls going on end for up to graceSeconds.
  void Stop(int graceSeconds);
  void HangUpNow();

 private:
  bool PrepareSpool(std::string& error);

  const Config& config_;
  EventLog& log_;
  const GatewayClock& clock_;
  std::unique_ptr<CallStore> store_;
  std::unique_ptr<SipEngine> engine_;           // in sip mode: every line's calls and the registration
  std::unique_ptr<Registration> registration_;  // with register_seconds > 0
  std::unique_ptr<Dispatcher> dispatcher_;
  std::unique_ptr<HttpApi> http_;
  std::thread serving_;
};

}  // namespace talmery
