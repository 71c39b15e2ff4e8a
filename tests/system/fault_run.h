#pragma once
// Runs a list of faults through one hidden agent: for each fault the simulator raises a faulty
// reminder, the test waits until the agent has dealt with it (its message boxes shown and
// closed, its requests recorded), repairs what the fault broke, and only then lets the
// simulator raise a good reminder that must reach the gateway. The simulator waits at each step
// in "wait-advise" until the test opens the next gate, so nothing depends on guessed sleeps.
#include <functional>
#include <string>
#include <vector>

#include "tests/harness/message_box_watcher.h"
#include "tests/system/system_rig.h"

namespace systemtest {

constexpr char kOwnPhone[] = "(own)";

struct Fault {
  std::string name;
  // Before the faulty reminder fires, and after it was dealt with (before the good one).
  std::function<void(SystemRig&)> arrange = [](SystemRig&) {};
  std::function<void(SystemRig&)> repair = [](SystemRig&) {};
  // "notifycall" of the faulty reminder: kOwnPhone gives a number of its own (answers are told
  // apart by number); empty: the item has none, so the user's own number is called.
  std::string phone = kOwnPhone;
  // A member of the faulty item that Outlook fails to give, with the description "Item is busy",
  // and further fields of that item ("minutes 40").
  std::string failMember;
  std::string itemFields;
  // The gateway's answer to requests with that phone number (else: "[<n>]").
  bool answerSet = false;
  gateway::Answer answer;
  // What the agent must show (caption "Brisomel"), in order, and how many requests reach the
  // gateway for the faulty reminder.
  std::vector<std::string> boxes;
  // Where the platform may decide either way (a reset racing the data before it), the other
  // outcome that is just as correct.
  std::vector<std::string> alternativeBoxes;
  size_t requests = 0;
  // Requests that must reach another server instead (a default port the fault falls back to).
  gateway::Server* elsewhere = nullptr;
  size_t elsewhereRequests = 0;
  // Further checks of those requests.
  std::function<void(const std::vector<gateway::RecordedRequest>&)> check;
  DWORD timeoutMs = 20000;
};

struct FaultOutcome {
  std::vector<std::string> boxes;  // texts seen for this fault
  std::vector<gateway::RecordedRequest> requests;
  bool nextReminderArrived = false;
  double handledAfterMs = 0;  // from opening the gate to the fault being dealt with
};

// Runs every fault in order in one agent; the gtest expectations are checked inside.
// Returns the outcomes (for figures the caller prints).
std::vector<FaultOutcome> RunFaults(SystemRig& rig, const std::vector<Fault>& faults);

// The event lines of the agent's sink (cookie 1): each must have succeeded.
void ExpectEventsSucceeded(LogFollower& log, size_t expected);
double LongestEventMs(LogFollower& log, const std::string& item = "");

}  // namespace systemtest
