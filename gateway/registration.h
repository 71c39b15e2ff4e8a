#pragma once
// The gateway's registration with the PBX, kept by a SIP user agent of its own that places no
// calls (the lines authenticate each call by itself). A refused registration is not tried again
// at once: the pause after a refusal starts at register_retry seconds and doubles up to 30
// minutes, so that a wrong password does not hammer the PBX (nor get the gateway banned). Each
// change of state is logged once; at a stop the registration is removed before the agent ends.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "gateway/baresip.h"
#include "gateway/config.h"

namespace talmery {

class EventLog;

// The user agent of call line `index` (0 .. max_calls - 1), or with index max_calls the one that
// keeps the registration: its folder, ports and account.
BaresipSetup SipAgentSetup(const Config& config, int index, const std::string& silenceWav);

// Seconds to wait after the `refusals`-th refusal in a row (1, 2, ...): first, doubling, at
// most 1800.
int RegistrationPause(int refusals, int firstSeconds);

class Registration {
 public:
  Registration(const Config& config, const std::string& silenceWav, EventLog& log);
  ~Registration();
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  void Start();
  // Removes the registration (the agent sends REGISTER with expires=0) and ends the agent.
  void Stop();
  // For the status page: "registered", "refused (403 Forbidden); next try 10:31:00", ...
  std::string State();

 private:
  void Loop();
  void SetState(const std::string& state, const std::string& detail);

  const Config& config_;
  EventLog& log_;
  std::unique_ptr<Baresip> agent_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool stopping_ = false;
  std::string state_ = "starting", detail_;
  long long nextTryMs_ = 0;
  std::thread thread_;
};

}  // namespace talmery
