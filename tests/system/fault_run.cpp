#include "tests/system/fault_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace systemtest {
namespace {

std::string FaultPhone(size_t i) {
  char text[16];
  std::snprintf(text, sizeof text, "555-%04u", static_cast<unsigned>(1000 + 2 * i));
  return text;
}

std::string GoodPhone(size_t i) {
  char text[16];
  std::snprintf(text, sizeof text, "555-%04u", static_cast<unsigned>(1001 + 2 * i));
  return text;
}

std::string Digits(const std::string& phone) {
  std::string digits;
  for (char c : phone) {
    if (c >= '0' && c <= '9') digits += c;
  }
  return digits;
}

std::string Visible(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

// What a stuck fault run leaves to go on: the boxes, the requests since the fault, whether the
// agent runs, and the simulator's last lines.
void DumpState(SystemRig& rig, const harness::MessageBoxWatcher& boxes, size_t requestsBefore) {
  std::printf("[ stuck ] agent running: %s; requests since the fault: %zu, answered in all: %zu\n",
              rig.Agent().Running() ? "yes" : "no", rig.Gateway().RequestCount() - requestsBefore,
              rig.Gateway().AnsweredCount());
  for (const harness::SeenBox& box : boxes.Seen()) std::printf("[ stuck ] box: %s\n", Visible(box.text).c_str());
  rig.OutlookLog().Poll();
  const std::vector<SeenLine>& lines = rig.OutlookLog().Lines();
  for (size_t i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i) {
    std::printf("[ stuck ] outlook: %s\n", lines[i].text.c_str());
  }
  std::fflush(stdout);
}

}  // namespace

std::vector<FaultOutcome> RunFaults(SystemRig& rig, const std::vector<Fault>& faults) {
  std::vector<FaultOutcome> outcomes(faults.size());
  harness::MessageBoxWatcher boxes(kAgentCaption);

  std::map<std::string, gateway::Answer> answers;
  std::string script = "version \"16.0.0.1\"\n";
  for (size_t i = 0; i < faults.size(); ++i) {
    const std::string badPhone = faults[i].phone == kOwnPhone ? FaultPhone(i) : faults[i].phone;
    script += ReminderItem("fault" + std::to_string(i), "fault " + faults[i].name, badPhone);
    if (!faults[i].failMember.empty()) {
      script += "fail fault" + std::to_string(i) + " " + faults[i].failMember + " \"Item is busy\"\n";
    }
    if (!faults[i].itemFields.empty()) script += "item fault" + std::to_string(i) + " " + faults[i].itemFields + "\n";
    script += ReminderItem("next" + std::to_string(i), "next " + faults[i].name, GoodPhone(i));
    if (faults[i].answerSet) answers[Digits(badPhone)] = faults[i].answer;
  }
  script += "wait-advise 60s 1\n";
  for (size_t i = 0; i < faults.size(); ++i) {
    script += "wait-advise 120s " + std::to_string(2 + 2 * i) + "\nfire fault" + std::to_string(i) + "\n";
    script += "wait-advise 120s " + std::to_string(3 + 2 * i) + "\nfire next" + std::to_string(i) + "\n";
  }
  script += "refcounts\nnote done\n";

  rig.Gateway().SetResponder([answers](const gateway::RecordedRequest& request) {
    const auto it = answers.find(PhoneOf(request));
    if (it != answers.end()) return it->second;
    gateway::Answer good;
    good.autoId = true;
    return good;
  });
  const bool started = rig.StartOutlook(script) && rig.StartAgent();
  EXPECT_TRUE(started) << "the agent did not connect to Outlook";
  if (!started) return outcomes;

  for (size_t i = 0; i < faults.size(); ++i) {
    const Fault& fault = faults[i];
    FaultOutcome& outcome = outcomes[i];
    SCOPED_TRACE("fault " + fault.name);
    fault.arrange(rig);
    const size_t boxesBefore = boxes.Count();
    const size_t requestsBefore = rig.Gateway().RequestCount();
    const size_t answeredBefore = rig.Gateway().AnsweredCount();
    const size_t elsewhereBefore = fault.elsewhere ? fault.elsewhere->AnsweredCount() : 0;
    const double opened = NowMs();
    if (!rig.OpenGate()) {
      // Without the gate the simulator never raises the reminder: waiting for its outcome, and then
      // for the simulator still held in its script on the way out, would only run the test into
      // its watchdog and bury this error.
      ADD_FAILURE() << "the simulator did not raise the faulty reminder: " << rig.GateError();
      DumpState(rig, boxes, requestsBefore);
      return outcomes;
    }
    const bool dealtWith = PumpWhile(
        [&] {
          return boxes.Count() >= boxesBefore + fault.boxes.size() &&
                 rig.Gateway().RequestCount() >= requestsBefore + fault.requests &&
                 rig.Gateway().AnsweredCount() >= answeredBefore + fault.requests &&
                 (!fault.elsewhere || fault.elsewhere->AnsweredCount() >= elsewhereBefore + fault.elsewhereRequests);
        },
        fault.timeoutMs, 10);
    outcome.handledAfterMs = NowMs() - opened;
    EXPECT_TRUE(dealtWith) << "the faulty reminder was not dealt with in time";
    // Told as it happens: a run cut off by ctest's time-out still shows how far it came.
    std::printf("[ fault %-28s] %s after %.0f ms\n", fault.name.c_str(), dealtWith ? "dealt with" : "NOT dealt with",
                outcome.handledAfterMs);
    std::fflush(stdout);
    if (!dealtWith) {
      // The faults after this one would each wait out their time too and run the test past
      // ctest's limit, which kills it without a word: stop here and show where the agent stood.
      DumpState(rig, boxes, requestsBefore);
      return outcomes;
    }
    // Nothing more may follow: give a stray box or request a moment to show up.
    PumpWhile([] { return false; }, 300, 10);

    const std::vector<harness::SeenBox> seen = boxes.Seen();
    for (size_t b = boxesBefore; b < seen.size(); ++b) outcome.boxes.push_back(seen[b].text);
    const std::vector<gateway::RecordedRequest> all = rig.Gateway().Requests();
    for (size_t r = requestsBefore; r < all.size(); ++r) outcome.requests.push_back(all[r]);
    if (!fault.alternativeBoxes.empty() && outcome.boxes == fault.alternativeBoxes) {
      std::printf("[ fault %-28s] the alternative outcome\n", fault.name.c_str());
    } else {
      EXPECT_EQ(outcome.boxes, fault.boxes);
    }
    for (const std::string& text : outcome.boxes) std::printf("[ fault %-28s] box: %s\n", fault.name.c_str(), Visible(text).c_str());
    std::fflush(stdout);
    EXPECT_EQ(outcome.requests.size(), fault.requests);
    if (fault.elsewhere) {
      EXPECT_EQ(fault.elsewhere->AnsweredCount(), elsewhereBefore + fault.elsewhereRequests);
    }
    if (fault.check) fault.check(outcome.requests);

    fault.repair(rig);
    const size_t before = rig.Gateway().RequestCount();
    if (!rig.OpenGate()) {
      ADD_FAILURE() << "the simulator did not raise the next reminder: " << rig.GateError();
      DumpState(rig, boxes, before);
      return outcomes;
    }
    outcome.nextReminderArrived = rig.WaitForRequests(before + 1, 20000);
    EXPECT_TRUE(outcome.nextReminderArrived) << "the reminder after the fault did not reach the gateway";
    if (!outcome.nextReminderArrived) {
      DumpState(rig, boxes, before);
      return outcomes;
    }
    if (outcome.nextReminderArrived) {
      EXPECT_EQ(PhoneOf(rig.Gateway().Requests()[before]), Digits(GoodPhone(i)));
    }
    EXPECT_TRUE(rig.Agent().Running()) << "the agent ended";
  }
  EXPECT_GE(rig.OutlookLog().WaitFor("Note done", 20000), 0);
  ExpectEventsSucceeded(rig.OutlookLog(), 2 * faults.size());
  EXPECT_EQ(boxes.Count(), [&] {
    size_t n = 0;
    for (const Fault& f : faults) n += f.boxes.size();
    return n;
  }());
  return outcomes;
}

void ExpectEventsSucceeded(LogFollower& log, size_t expected) {
  log.Poll();
  size_t events = 0;
  for (const SeenLine& line : log.Lines()) {
    if (line.text.rfind("Event 0xF004 ", 0) != 0 || line.text.find(" cookie=1 ") == std::string::npos) continue;
    ++events;
    EXPECT_NE(line.text.find(" hr=0x00000000 "), std::string::npos) << line.text;
  }
  EXPECT_EQ(events, expected);
}

double LongestEventMs(LogFollower& log, const std::string& item) {
  log.Poll();
  double longest = 0;
  for (const SeenLine& line : log.Lines()) {
    if (line.text.rfind("Event 0xF004 ", 0) != 0 || line.text.find(" cookie=1 ") == std::string::npos) continue;
    if (!item.empty() && line.text.find(" Item#" + item + " ") == std::string::npos) continue;
    const size_t at = line.text.find(" ms=");
    if (at != std::string::npos) longest = std::max(longest, std::atof(line.text.c_str() + at + 4));
  }
  return longest;
}

}  // namespace systemtest
