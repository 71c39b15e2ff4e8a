#pragma once
// The gateway's registration with the PBX, kept on the SIP engine beside the calls (which
// authenticate each by itself). A refused registration is not tried again at once: the pause
// after a refusal starts at register_retry seconds and doubles up to 30 minutes, so that a wrong
// password does not hammer the PBX (nor get the gateway banned). Each change of state is logged
// once; at a stop the registration is removed (REGISTER with Expires 0) before the engine ends.
#include <mutex>
#include <string>

#include "gateway/config.h"

namespace talmery {

class EventLog;
class SipEngine;

// Seconds to wait after the `refusals`-th refusal in a row (1, 2, ...): first, doubling, at
// most 1800.
int RegistrationPause(int refusals, int firstSeconds);

class Registration {
 public:
  Registration(const Config& config, SipEngine& engine, EventLog& log);
  ~Registration();
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  void Start();
  // Removes the registration: libre sends REGISTER with Expires 0, and the engine's stop waits
  // (a few seconds at most) for its answer.
  void Stop();
  // For the status page: "registered", "refused (403 Forbidden); next try 10:31:00", ...
  std::string State();

  struct Agent;  // the SIP thread's side

 private:
  friend struct Agent;
  void SetState(const std::string& state, const std::string& detail, long long nextTryMs);

  const Config& config_;
  SipEngine& engine_;
  EventLog& log_;
  Agent* agent_ = nullptr;  // created and destroyed on the SIP thread
  std::mutex mu_;
  std::string state_ = "starting", detail_;
  long long nextTryMs_ = 0;
};

}  // namespace talmery
