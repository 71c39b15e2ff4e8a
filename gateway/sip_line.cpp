// A line that places calls through its own baresip process.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>

#include "gateway/baresip.h"
#include "gateway/event_log.h"
#include "gateway/line.h"
#include "gateway/registration.h"

namespace talmery {

std::string AccountAor(const SipSettings& sip) {
  return "sip:" + sip.user + "@" + (sip.domain.empty() ? sip.localAddress : sip.domain);
}

std::string AccountLine(const SipSettings& sip, bool registers) {
  std::string line = "<" + AccountAor(sip) + ">";
  // No auth_pass: baresip then asks for the password, and the line hands it over on its own.
  if (!sip.password.empty()) line += ";auth_user=" + (sip.authUser.empty() ? sip.user : sip.authUser);
  if (!sip.outboundProxy.empty()) line += ";outbound=\"" + sip.outboundProxy + "\"";
  line += ";regint=" + std::to_string(registers ? sip.registerSeconds : 0);
  line += ";audio_codecs=" + sip.codecs;
  // Nobody should call us; should someone, the call is not taken.
  line += ";answermode=manual";
  return line;
}

BaresipSetup SipAgentSetup(const Config& config, int index, const std::string& silenceWav) {
  const SipSettings& sip = config.sip;
  const bool registrar = index == config.maxCalls;
  BaresipSetup s;
  s.program = sip.baresip;
  s.modulePath = sip.modulePath;
  s.dir = config.SpoolDir() + (registrar ? std::string("/registration") : "/line" + std::to_string(index));
  s.listenAddress = sip.localAddress;
  s.sipPort = sip.sipPort + 2 * index;
  s.controlPort = sip.controlPort + index;
  // The registration's agent takes no calls, yet an incoming INVITE would open RTP ports: it
  // keeps the last four of the range to itself.
  const int reserved = sip.registerSeconds > 0 ? 4 : 0;
  const int share = (sip.rtpPortLast - sip.rtpPortFirst + 1 - reserved) / config.maxCalls;
  s.rtpFirst = registrar ? sip.rtpPortLast - 3 : sip.rtpPortFirst + index * share;
  s.rtpLast = registrar ? sip.rtpPortLast : s.rtpFirst + share - 1;
  s.defaultSource = "aufile," + silenceWav;
  s.accountLine = AccountLine(sip, registrar);
  s.password = sip.password;
  s.aor = AccountAor(sip);
  s.name = registrar ? "registration" : std::to_string(index);
  return s;
}

namespace {

using Clock = std::chrono::steady_clock;

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

class SipLine : public Line {
 public:
  SipLine(const Config& config, int index, const std::string& silenceWav, EventLog& log)
      : config_(config), index_(index), log_(log), silenceWav_(silenceWav), baresip_(SipAgentSetup(config, index, silenceWav), &log) {}

  bool Ready(std::string& why) override {
    if (baresip_.Idle()) return true;
    return baresip_.Start(why);
  }

  Outcome Place(const DialJob& job, const std::function<void()>& onAnswered) override {
    aborted_ = false;
    const std::string uri = ReplaceAll(config_.DialTemplate(), "{number}", job.number);
    const std::string messagePath = config_.SpoolDir() + "/speech/call-" + std::to_string(job.id) + "-" +
                                    std::to_string(job.attempt) + ".wav";
    const Clock::time_point start = Clock::now();
    Outcome outcome = Run(job, uri, messagePath, start, onAnswered);
    unlink(messagePath.c_str());  // the spoken text does not stay on disk
    return outcome;
  }

  void Abort() override { aborted_ = true; }
  void Shutdown() override { baresip_.Stop(); }

 private:
  // A fault of this machine (the speech, the SIP agent): it may pass, so the call is tried
  // again like a busy one.
  Outcome Fault(const std::string& detail) {
    Outcome o;
    o.result = Result::Transient;
    o.detail = detail;
    return o;
  }

  // Hangs up and waits for the close; a call that does not close costs the process, so that
  // the next call starts clean.
  void HangUp() {
    std::string data;
    baresip_.Command("hangup", "", data);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    BaresipEvent event;
    for (;;) {
      const Baresip::Wait w = baresip_.NextEvent(event, deadline);
      if (w != Baresip::Wait::Event) break;
      if (event.klass == "call" && event.type == "CALL_CLOSED") return;
    }
    log_.Write("line", {{"line", std::to_string(index_)}, {"state", "restarting"}, {"why", "the call did not close"}});
    baresip_.Stop();
  }

  Outcome Run(const DialJob& job, const std::string& uri, const std::string& messagePath, Clock::time_point start,
              const std::function<void()>& onAnswered) {
    std::string data;
    // ausrc also becomes the source of the calls that follow: back to silence before each call.
    if (!baresip_.Command("ausrc", "aufile," + silenceWav_, data)) return Fault("cannot set the silence: " + data);
    if (!baresip_.Command("dial", uri, data)) return Fault("dial refused: " + data);

    // The speech is made while the phone rings, beside the timers and the call's events; the
    // call sends silence until the answer and the message is ready, so early media (a 183 with
    // SDP) loses none of the message. (Leaving this function waits for the speech: the helper
    // ends within its own time limit.)
    struct Speech {
      bool ok = false;
      std::string error;
    };
    std::future<Speech> making = std::async(std::launch::async, [&] {
      Speech s;
      Pcm message;
      s.ok = RenderMessage(job.text, config_, message, s.error) && WriteWavFile(messagePath, message, s.error);
      return s;
    });
    bool ready = false, answered = false, playing = false;
    Clock::time_point answeredAt;
    std::string callId;
    for (;;) {
      if (!ready && making.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        const Speech speech = making.get();
        if (!speech.ok) {
          HangUp();
          Outcome o = Fault("speech: " + speech.error);
          o.answered = answered;
          return o;
        }
        ready = true;
      }
      if (answered && ready && !playing) {
        playing = true;
        if (!baresip_.Command("ausrc", "aufile," + messagePath, data)) {
          HangUp();
          Outcome o = Fault("cannot play the message: " + data);
          o.answered = true;
          return o;
        }
      }
      const Clock::time_point deadline =
          answered ? answeredAt + std::chrono::seconds(config_.maxCallTime) : start + std::chrono::seconds(config_.ringTime);
      const Clock::time_point slice = std::min(deadline, Clock::now() + std::chrono::milliseconds(ready ? 200 : 10));
      BaresipEvent event;
      const Baresip::Wait w = baresip_.NextEvent(event, slice);
      if (aborted_) {
        HangUp();
        Outcome o = answered ? Outcome{Result::Delivered, true, "hung up: the gateway is stopping"}
                             : Outcome{Result::Failed, false, "the gateway stopped while dialling"};
        return o;
      }
      if (w == Baresip::Wait::Lost) {
        baresip_.Stop();
        if (answered) return Outcome{Result::Delivered, true, "the SIP agent stopped during the message"};
        return Fault("the SIP agent stopped during the call");
      }
      if (w == Baresip::Wait::Timeout) {
        if (Clock::now() < deadline) continue;
        HangUp();
        if (answered)
          return Outcome{Result::Delivered, true, "hung up after " + std::to_string(config_.maxCallTime) + " s"};
        Outcome o;
        o.result = Result::NoAnswer;
        o.detail = "no answer in " + std::to_string(config_.ringTime) + " s";
        return o;
      }
      if (event.klass != "call") continue;
      if (!event.id.empty()) {
        if (callId.empty()) callId = event.id;
        else if (event.id != callId) continue;  // not our call
      }
      if (event.type == "CALL_ESTABLISHED" && !answered) {
        answered = true;  // the message starts at the top of the loop, once it is ready
        answeredAt = Clock::now();
        onAnswered();
      } else if (event.type == "CALL_CLOSED") {
        return ClassifyClosed(event.param, answered);
      }
    }
  }

  const Config& config_;
  const int index_;
  EventLog& log_;
  const std::string silenceWav_;
  Baresip baresip_;
  std::atomic<bool> aborted_{false};
};

}  // namespace

std::unique_ptr<Line> MakeSipLine(const Config& config, int index, const std::string& silenceWav, EventLog& log) {
  return std::make_unique<SipLine>(config, index, silenceWav, log);
}

}  // namespace talmery
