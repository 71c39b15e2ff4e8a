#pragma once
// What people see of the calls: the HTML page, the JSON of one call, the console list. Numbers
// are partly masked everywhere; texts appear only when the configuration allows it.
#include <string>
#include <vector>

#include "gateway/admission.h"
#include "gateway/store.h"

namespace talmery {

struct ViewOptions {
  bool showText = false;
  int refreshSeconds = 10;
  std::string mode;  // "SIP" or "speaker", shown in the page's heading
  // Requests per client address over the last 24 hours, in a table of their own.
  bool showClients = false;
  std::vector<ClientActivity> clients;
  // A store shared by several gateways: each call's node, and a table of the nodes.
  bool showNodes = false;
  std::vector<NodeRecord> nodes;
  // The JSON of one call tells its caller how to follow it: the wall clock now, and how long
  // after its acceptance a call may still be unfinished (FollowMs).
  long long nowMs = 0;
  long long followMs = 0;
};

// The states a call never leaves.
bool IsFinalState(const std::string& state);
// How long after its acceptance a call may be unfinished: it waits max_wait at most, and the
// try under way then (its ring and its message) and a last pause may still end it; a minute more
// for the dispatcher to notice. A snoozed call is not bound by max_wait: each snooze the callee
// may take adds its minutes and another call.
long long FollowMs(int maxWaitMinutes, int retryPauseSeconds, int ringSeconds, int maxCallSeconds, int snoozes,
                   int snoozeMinutes);
// When a caller following a call may learn something new, in seconds from nowMs: at its next
// try's time, else (queued, ringing, speaking) in kAskAgainSeconds; 0 for a final state.
constexpr int kAskAgainSeconds = 30;
int AskAgainSeconds(const CallRecord& call, long long nowMs);

// The nodes' table (empty when options.showNodes is false).
std::string NodeTable(const ViewOptions& options, long long nowMs);
// What a node is doing: "running", "stopped 2026-12-08 21:59:05", "silent longer than its lease (30 s)".
std::string NodeStateText(const NodeRecord& node);

// The page's table of client addresses (empty when options.showClients is false).
std::string ClientTable(const ViewOptions& options);

// Keeps the first two and the last two digits of numbers of seven characters or more, only
// the last two of shorter ones (one of four or fewer); the rest become '*'.
std::string MaskNumber(const std::string& number);
std::string HtmlEscape(const std::string& text);
// "2026-12-08 21:59:05" in the local time zone.
std::string LocalTime(long long epochMs);

// A line about the gateway itself shown above the calls ("registration: ..."), set by the part
// that knows it; an empty text removes it.
void SetGatewayNote(const std::string& name, const std::string& text);

std::string StatusPage(const std::vector<CallRecord>& calls, const ViewOptions& options, long long nowMs);
std::string CallJson(const CallRecord& call, const ViewOptions& options);
std::string ConsoleList(const std::vector<CallRecord>& calls, const ViewOptions& options);

}  // namespace talmery
