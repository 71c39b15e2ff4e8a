#include "tests/system/hostile_run.h"

#include <cstdio>

namespace systemtest {
namespace {

constexpr char kError[] = "Error making reminder call\r\n";
constexpr char kRefused[] = "Failed to connect to the Talmery Gateway. Make sure it is started.";
constexpr char kTimedOut[] = "The Talmery Gateway did not answer within 30 seconds.";
constexpr DWORD kDeadlineMs = 30000;

std::string HostilePhone(size_t i) { return "555-3" + std::to_string(100 + 2 * i); }
std::string NextPhone(size_t i) { return "555-3" + std::to_string(101 + 2 * i); }
std::string Digits(const std::string& phone) {
  std::string digits;
  for (char c : phone) {
    if (c >= '0' && c <= '9') digits += c;
  }
  return digits;
}

gateway::Answer Redirect(uint16_t port) {
  gateway::Answer a;
  a.status = 302;
  a.reason = "Found";
  a.body = "";
  a.location = "http://127.0.0.1:" + std::to_string(port) + "/ocall/callreqHandler.jsp";
  return a;
}

gateway::Answer Hostile(gateway::Answer::Mode mode, const std::string& body = "", int trickleMs = 0,
                        unsigned long long bytes = 0) {
  gateway::Answer a;
  a.mode = mode;
  a.body = body;
  a.trickleDelayMs = trickleMs;
  a.streamBytes = bytes;
  return a;
}

}  // namespace

std::vector<HostileCase> HostileCases(uint16_t ownPort, uint16_t elsewhere) {
  using Mode = gateway::Answer::Mode;
  return {
      {"redirect loop", Redirect(ownPort), {std::string(kError) + kRefused}},
      {"redirect elsewhere", Redirect(elsewhere), {std::string(kError) + kRefused}},
      {"header trickle", Hostile(Mode::HeaderTrickle, "", 1000), {std::string(kError) + kTimedOut}},
      {"endless chunked body", Hostile(Mode::EndlessChunks, "[42]"), {}},
      {"300 MB of headers", Hostile(Mode::HugeHeaders, "[42]", 0, 300ull << 20),
       {std::string(kError) + "The Talmery Gateway's answer headers are too large."}},
  };
}

std::vector<HostileOutcome> RunHostile(SystemRig& rig, const std::vector<HostileCase>& cases,
                                       const std::function<void(size_t)>& during, const std::string& agentExe) {
  std::vector<HostileOutcome> outcomes(cases.size());
  harness::MessageBoxWatcher boxes(kAgentCaption);
  std::string script = "version \"16.0.0.1\"\n";
  for (size_t i = 0; i < cases.size(); ++i) {
    script += ReminderItem("hostile" + std::to_string(i), cases[i].name, HostilePhone(i));
    script += ReminderItem("next" + std::to_string(i), "after " + cases[i].name, NextPhone(i));
  }
  script += "wait-advise 60s 1\n";
  for (size_t i = 0; i < cases.size(); ++i) {
    script += "wait-advise 200s " + std::to_string(2 + i) + "\nfire hostile" + std::to_string(i) + "\nfire next" +
              std::to_string(i) + "\n";
  }
  script += "note done\n";
  rig.Gateway().SetResponder([&cases](const gateway::RecordedRequest& request) {
    for (size_t i = 0; i < cases.size(); ++i) {
      if (PhoneOf(request) == Digits(HostilePhone(i))) return cases[i].answer;
    }
    gateway::Answer good;
    good.autoId = true;
    return good;
  });
  if (!rig.StartOutlook(script) || !(agentExe.empty() ? rig.StartAgent() : rig.StartAgentFrom(agentExe))) {
    return outcomes;
  }

  for (size_t i = 0; i < cases.size(); ++i) {
    HostileOutcome& outcome = outcomes[i];
    const size_t boxesBefore = boxes.Count();
    const size_t requestsBefore = rig.Gateway().RequestCount();
    if (!rig.OpenGate()) break;
    // Far beyond the deadline: a client without one would still be at it.
    const DWORD limitMs = kDeadlineMs * 3;
    outcome.nextArrived = PumpWhile(
        [&] {
          if (during) during(i);
          return rig.Gateway().RequestCount() >= requestsBefore + 2 &&
                 boxes.Count() >= boxesBefore + cases[i].boxes.size();
        },
        limitMs, 50);
    PumpWhile([] { return false; }, 300, 10);  // a stray box would show by now
    const std::vector<gateway::RecordedRequest> requests = rig.Gateway().Requests();
    if (requests.size() >= requestsBefore + 2) {
      outcome.nextAfterMs = static_cast<double>(requests[requestsBefore + 1].receivedAtMs -
                                                requests[requestsBefore].receivedAtMs);
      outcome.nextArrived = PhoneOf(requests[requestsBefore + 1]) == Digits(NextPhone(i));
    }
    const std::vector<harness::SeenBox> seen = boxes.Seen();
    for (size_t b = boxesBefore; b < seen.size(); ++b) outcome.boxes.push_back(seen[b].text);
    std::printf("[ hostile %-22s] next request %.1f s after the hostile one\n", cases[i].name.c_str(),
                outcome.nextAfterMs / 1000);
  }
  return outcomes;
}

}  // namespace systemtest
