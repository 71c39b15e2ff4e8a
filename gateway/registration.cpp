#include "gateway/registration.h"

#include <algorithm>
#include <chrono>

#include "gateway/event_log.h"
#include "gateway/line.h"
#include "gateway/status_view.h"

namespace talmery {

int RegistrationPause(int refusals, int firstSeconds) {
  long long pause = firstSeconds;
  for (int i = 1; i < refusals && pause < 1800; ++i) pause *= 2;
  return static_cast<int>(std::min<long long>(pause, std::max(1800, firstSeconds)));
}

Registration::Registration(const Config& config, const std::string& silenceWav, EventLog& log)
    : config_(config), log_(log), agent_(std::make_unique<Baresip>(SipAgentSetup(config, config.maxCalls, silenceWav), &log)) {}

Registration::~Registration() { Stop(); }

void Registration::Start() {
  SetGatewayNote("registration", "starting");
  thread_ = std::thread([this] { Loop(); });
}

void Registration::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  agent_->Stop();  // SIGTERM: baresip sends REGISTER with expires=0 and waits for the answer
  SetGatewayNote("registration", "");
}

std::string Registration::State() {
  std::lock_guard<std::mutex> lock(mu_);
  std::string text = state_;
  if (!detail_.empty()) text += " (" + detail_ + ")";
  if (state_ != "registered" && nextTryMs_ > 0) text += "; next try " + LocalTime(nextTryMs_);
  return text;
}

void Registration::SetState(const std::string& state, const std::string& detail) {
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    changed = state != state_;
    state_ = state;
    detail_ = detail;
    if (state == "registered") nextTryMs_ = 0;
  }
  SetGatewayNote("registration", AccountAor(config_.sip) + ": " + State());
  if (!changed) return;
  LogFields fields = {{"state", state}, {"aor", AccountAor(config_.sip)}};
  if (!detail.empty()) fields.push_back({"detail", detail});
  if (state != "registered" && nextTryMs_ > 0) fields.push_back({"next", UtcStamp(nextTryMs_)});
  log_.Write("registration", fields);
}

void Registration::Loop() {
  int refusals = 0;
  auto pauseFor = [&](int seconds) {
    std::unique_lock<std::mutex> lock(mu_);
    nextTryMs_ = NowMs() + seconds * 1000LL;
    return seconds;
  };
  auto sleep = [&](int seconds) {
    std::unique_lock<std::mutex> lock(mu_);
    return !cv_.wait_for(lock, std::chrono::seconds(seconds), [&] { return stopping_; });
  };
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return;
    }
    std::string error;
    if (!agent_->Running() && !agent_->Start(error)) {
      const int pause = pauseFor(5);
      SetState("down", error.substr(0, error.find('\n')));
      if (!sleep(pause)) return;
      continue;
    }
    BaresipEvent event;
    const Baresip::Wait w = agent_->NextEvent(event, std::chrono::steady_clock::now() + std::chrono::milliseconds(500));
    if (w == Baresip::Wait::Lost) {
      agent_->Stop();
      const int pause = pauseFor(5);
      SetState("down", "the SIP agent stopped");
      if (!sleep(pause)) return;
      continue;
    }
    // The first answer of the registrar may come before our control connection, and its event
    // is then lost: between events the agent's own account of the registration is asked for.
    if (w == Baresip::Wait::Timeout) {
      std::string data;
      if (!agent_->Command("reginfo", "", data, 2000)) continue;
      if (data.find("\x1b[32mOK") != std::string::npos) {
        event = {"register", "REGISTER_OK", "", "", "", ""};
      } else if (data.find("\x1b[31mERR") != std::string::npos) {
        event = {"register", "REGISTER_FAIL", "", State().find("refused") == 0 ? detail_ : "the registrar refused it", "", ""};
      } else {
        continue;
      }
    }
    if (event.klass != "register") continue;
    if (event.type == "REGISTER_OK") {
      refusals = 0;
      SetState("registered", "");
    } else if (event.type == "REGISTER_FAIL") {
      // The agent ends at once: left alone it would try again by itself, and removing a
      // registration that failed would only cost the PBX another refused digest.
      agent_->Stop(false);
      const int pause = pauseFor(RegistrationPause(++refusals, config_.sip.registerRetry));
      SetState("refused", event.param);
      if (!sleep(pause)) return;
    }
  }
}

}  // namespace talmery
