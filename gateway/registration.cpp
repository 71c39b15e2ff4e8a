#include "gateway/registration.h"

#include <algorithm>
#include <cstring>

#include "gateway/event_log.h"
#include "gateway/metrics.h"
#include "gateway/re_headers.h"
#include "gateway/sip_engine.h"
#include "gateway/status_view.h"

namespace talmery {

int RegistrationPause(int refusals, int firstSeconds) {
  long long pause = firstSeconds;
  for (int i = 1; i < refusals && pause < 1800; ++i) pause *= 2;
  return static_cast<int>(std::min<long long>(pause, std::max(1800, firstSeconds)));
}

// libre's sipreg keeps a registration by itself (refreshes, new nonces); on a refusal it would
// also try again by itself, soon and for ever, so a refused one is dropped and made anew only
// after our pause.
struct Registration::Agent {
  explicit Agent(Registration& owner) : owner(owner), engine(owner.engine_) {
    tmr_init(&retry);
    tmr_init(&drop);
  }
  ~Agent() {
    tmr_cancel(&retry);
    tmr_cancel(&drop);
    mem_deref(reg);  // when registered, libre sends the REGISTER with Expires 0
    mem_deref(asked);
  }

  static void Begin(void* arg) {
    Agent* self = static_cast<Agent*>(arg);
    const SipSettings& s = self->engine.Settings().sip;
    uint32_t routes = 0;
    const char** route = self->engine.Routes(routes);
    const std::string registrar = TransportUri(s, "sip:" + s.domain);
    self->asked = static_cast<SipEngine::Asked*>(mem_deref(self->asked));
    self->asked = self->engine.NewAsked();
    if (!self->asked) return self->Down(ENOMEM);
    const int err = sipreg_register(&self->reg, self->engine.Stack(), registrar.c_str(), self->engine.Aor().c_str(),
                                    nullptr, self->engine.Aor().c_str(), static_cast<uint32_t>(s.registerSeconds),
                                    self->engine.Contact().c_str(), route, routes, 0, SipEngine::Credentials,
                                    self->asked, true, Answered, self, nullptr, nullptr);
    if (err) self->Down(err);
  }

  void Down(int err) {
    reg = static_cast<sipreg*>(mem_deref(reg));
    owner.SetState("down", std::strerror(err), NowMs() + 5000);
    tmr_start(&retry, 5000, Begin, this);
  }

  static void Answered(int err, const sip_msg* msg, void* arg) {
    Agent* self = static_cast<Agent*>(arg);
    if (!err && msg && msg->scode < 200) return;
    if (!err && msg && msg->scode < 300) {
      self->refusals = 0;
      self->asked->times = 0;  // a refresh or the removal may meet a new challenge
      self->owner.SetState("registered", "", 0);
      return;
    }
    // A refused digest ends in our own refusal to answer the next challenge: the registrar's
    // status says more than that.
    self->why = msg && msg->scode >= 300
                    ? std::to_string(msg->scode) + (msg->reason.l ? " " + std::string(msg->reason.p, msg->reason.l) : "")
                : !self->engine.TlsFailure(err).empty() ? self->engine.TlsFailure(err)
                                                        : std::strerror(err);
    // Not inside sipreg's own handler: released on the next turn of the loop.
    tmr_start(&self->drop, 0, Drop, self);
  }

  static void Drop(void* arg) {
    Agent* self = static_cast<Agent*>(arg);
    self->reg = static_cast<sipreg*>(mem_deref(self->reg));
    const int pause = RegistrationPause(++self->refusals, self->engine.Settings().sip.registerRetry);
    self->owner.SetState("refused", self->why, NowMs() + pause * 1000LL);
    tmr_start(&self->retry, static_cast<uint64_t>(pause) * 1000, Begin, self);
  }

  Registration& owner;
  SipEngine& engine;
  sipreg* reg = nullptr;
  SipEngine::Asked* asked = nullptr;
  tmr retry, drop;
  int refusals = 0;
  std::string why;
};

Registration::Registration(const Config& config, SipEngine& engine, EventLog& log)
    : config_(config), engine_(engine), log_(log) {}

Registration::~Registration() { Stop(); }

void Registration::Start() {
  SetGatewayNote("registration", "starting");
  metrics::SetRegistration("starting");
  engine_.Run([this] {
    agent_ = new Agent(*this);
    Agent::Begin(agent_);
  });
}

void Registration::Stop() {
  Agent* agent = agent_;
  agent_ = nullptr;
  if (agent && !engine_.Run([agent] { delete agent; })) delete agent;
  SetGatewayNote("registration", "");
}

std::string Registration::State() {
  std::lock_guard<std::mutex> lock(mu_);
  std::string text = state_;
  if (!detail_.empty()) text += " (" + detail_ + ")";
  if (state_ != "registered" && nextTryMs_ > 0) text += "; next try " + LocalTime(nextTryMs_);
  return text;
}

void Registration::SetState(const std::string& state, const std::string& detail, long long nextTryMs) {
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    changed = state != state_;
    state_ = state;
    detail_ = detail;
    nextTryMs_ = nextTryMs;
  }
  SetGatewayNote("registration", AccountAor(config_.sip) + ": " + State());
  metrics::SetRegistration(state);
  if (!changed) return;
  LogFields fields = {{"state", state}, {"aor", AccountAor(config_.sip)}};
  if (!detail.empty()) fields.push_back({"detail", detail});
  if (nextTryMs > 0) fields.push_back({"next", UtcStamp(nextTryMs)});
  log_.Write("registration", fields);
}

}  // namespace talmery
