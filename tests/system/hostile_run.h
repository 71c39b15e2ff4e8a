#pragma once
// Hostile gateways, one after another, against one hidden agent: for each, Outlook raises a
// reminder whose request meets the hostile answer and, right behind it, a reminder whose request
// gets an ordinary one. What is watched: what the user is told, and when the second request
// arrives (its reminder waited in the agent's queue behind the hostile exchange).
#include <functional>
#include <string>
#include <vector>

#include "tests/harness/message_box_watcher.h"
#include "tests/system/system_rig.h"

namespace systemtest {

struct HostileCase {
  std::string name;
  gateway::Answer answer;
  std::vector<std::string> boxes;  // what the agent shows for the hostile exchange
};

struct HostileOutcome {
  std::vector<std::string> boxes;
  bool nextArrived = false;
  double nextAfterMs = 0;  // hostile request read -> the next reminder's request read
};

// The five hostile answers: a redirect to the same handler (a loop for a client that follows),
// a redirect to `elsewhere` (another server), a header trickled one byte a second, an endless
// chunked body after "[42]", 300 MB of header lines.
std::vector<HostileCase> HostileCases(uint16_t ownPort, uint16_t elsewhere);

// Runs the cases in one agent (started here, from agentExe or the built one). `during` is called
// about every 50 ms while a case runs, with its index (for sampling the agent). Boxes are closed
// as soon as they are seen.
std::vector<HostileOutcome> RunHostile(SystemRig& rig, const std::vector<HostileCase>& cases,
                                       const std::function<void(size_t)>& during = nullptr,
                                       const std::string& agentExe = "");

}  // namespace systemtest
