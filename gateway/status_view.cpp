#include "gateway/status_view.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "gateway/event_log.h"

namespace talmery {

std::string MaskNumber(const std::string& number) {
  std::string masked = number;
  const size_t n = masked.size();
  const size_t keepHead = n >= 7 ? 2 : 0;
  const size_t keepTail = n >= 7 ? 2 : (n > 4 ? 2 : 1);
  for (size_t i = keepHead; i + keepTail < n; ++i) masked[i] = '*';
  return masked;
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string LocalTime(long long epochMs) {
  const std::time_t seconds = static_cast<std::time_t>(epochMs / 1000);
  std::tm tm{};
  localtime_r(&seconds, &tm);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &tm);
  return buffer;
}

namespace {

std::string AttemptsText(const CallRecord& c) { return std::to_string(c.attempts) + " of " + std::to_string(c.maxAttempts); }

std::string ReasonText(const CallRecord& c) {
  std::string reason = c.reason;
  if (c.nextMs) reason += (reason.empty() ? "" : "; ") + std::string("next try ") + LocalTime(*c.nextMs);
  return reason;
}

// Each finished try with what the network or the line said, e.g. "try 1 busy: 486 Busy Here;
// try 2 answered (person): the message was played"; empty before the first try ends.
std::string TriesText(const CallRecord& c) {
  std::string text;
  for (const AttemptRecord& a : c.history) {
    if (a.outcome.empty() && a.detail.empty()) continue;
    text += (text.empty() ? "" : "; ") + std::string("try ") + std::to_string(a.attempt) + " " + a.outcome +
            (a.answerer.empty() ? "" : " (" + a.answerer + ")") + (a.detail.empty() ? "" : ": " + a.detail);
  }
  return text;
}

std::mutex notesMu;
std::map<std::string, std::string>& Notes() {
  static std::map<std::string, std::string> notes;
  return notes;
}

// The numbers a try dialled, masked like the call's own.
nlohmann::json DialledJson(const std::string& dialled) {
  nlohmann::json numbers = nlohmann::json::array();
  for (size_t at = 0; at < dialled.size();) {
    const size_t comma = std::min(dialled.find(',', at), dialled.size());
    numbers.push_back(MaskNumber(dialled.substr(at, comma - at)));
    at = comma + 1;
  }
  return numbers;
}

bool FinalState(const std::string& s) { return s == state::kDone || s == state::kFailed || s == state::kExpired; }

}  // namespace

void SetGatewayNote(const std::string& name, const std::string& text) {
  std::lock_guard<std::mutex> lock(notesMu);
  if (text.empty()) Notes().erase(name);
  else Notes()[name] = text;
}

std::string StatusPage(const std::vector<CallRecord>& calls, const ViewOptions& options, long long nowMs) {
  std::map<std::string, int> counts;
  for (const CallRecord& c : calls) ++counts[c.state];
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"refresh\" content=\"" + std::to_string(options.refreshSeconds) + "\">\n"
      "<title>Talmery Gateway</title>\n"
      "<style>body{font-family:sans-serif;margin:1em}table{border-collapse:collapse}"
      "td,th{border:1px solid #bbb;padding:2px 6px;vertical-align:top;text-align:left}"
      ".done{color:#060}.failed,.expired{color:#a00}pre{margin:0;white-space:pre-wrap}</style>\n"
      "</head><body>\n<h1>Talmery Gateway</h1>\n<p>" + HtmlEscape(options.mode) + " mode; " +
      HtmlEscape(LocalTime(nowMs)) + "; the " + std::to_string(calls.size()) + " most recent calls";
  for (const auto& [name, n] : counts) page += "; " + HtmlEscape(name) + ": " + std::to_string(n);
  page += ".</p>\n";
  {
    std::lock_guard<std::mutex> lock(notesMu);
    for (const auto& [name, text] : Notes()) page += "<p>" + HtmlEscape(name) + ": " + HtmlEscape(text) + "</p>\n";
  }
  page += NodeTable(options, nowMs);
  page += "<table>\n<tr><th>Id</th>";
  if (options.showNodes) page += "<th>Node</th>";
  page += "<th>Number</th><th>State</th><th>Attempts</th><th>Received</th><th>Last change</th><th>Reason</th>";
  if (options.showText) page += "<th>Text</th>";
  page += "</tr>\n";
  for (const CallRecord& c : calls) {
    page += "<tr class=\"" + HtmlEscape(FinalState(c.state) ? c.state : "") + "\"><td>" + std::to_string(c.id) +
            (options.showNodes ? "</td><td>" + HtmlEscape(c.node) : "") + "</td><td>" +
            HtmlEscape(MaskNumber(c.number)) + "</td><td>" + HtmlEscape(c.state) +
            "</td><td>" + AttemptsText(c) + "</td><td>" + LocalTime(c.createdMs) + "</td><td>" + LocalTime(c.updatedMs) +
            "</td><td>" + HtmlEscape(ReasonText(c));
    if (const std::string tries = TriesText(c); !tries.empty()) page += "<br><small>" + HtmlEscape(tries) + "</small>";
    page += "</td>";
    if (options.showText)
      page += "<td>" + (c.text ? "<pre>" + HtmlEscape(*c.text) + "</pre>" : std::string("<i>removed</i>")) + "</td>";
    page += "</tr>\n";
  }
  page += "</table>\n" + ClientTable(options) + "</body></html>\n";
  return page;
}

std::string NodeStateText(const NodeRecord& n) {
  if (n.stoppedMs) return "stopped " + LocalTime(*n.stoppedMs);
  if (n.silent) return "silent longer than its lease (" + std::to_string(n.leaseSeconds) + " s)";
  return "running";
}

std::string NodeTable(const ViewOptions& options, long long /*nowMs*/) {
  if (!options.showNodes) return "";
  std::string table = "<h2>Nodes</h2>\n<table>\n<tr><th>Node</th><th>Host</th><th>State</th><th>Last seen</th>"
                      "<th>Lines in use</th><th>Registration</th></tr>\n";
  for (const NodeRecord& n : options.nodes)
    table += "<tr><td>" + HtmlEscape(n.node) + "</td><td>" + HtmlEscape(n.host) + "</td><td>" +
             HtmlEscape(NodeStateText(n)) + "</td><td>" + LocalTime(n.seenMs) + "</td><td>" +
             std::to_string(n.linesInUse) + " of " + std::to_string(n.lines) + "</td><td>" +
             HtmlEscape(n.registration.empty() ? "none" : n.registration) + "</td></tr>\n";
  return table + "</table>\n";
}

std::string ClientTable(const ViewOptions& options) {
  if (!options.showClients) return "";
  std::string table = "<h2>Clients, last 24 hours</h2>\n";
  if (options.clients.empty()) return table + "<p>No requests.</p>\n";
  table += "<table>\n<tr><th>Address</th><th>Accepted</th><th>Refused</th></tr>\n";
  for (const ClientActivity& c : options.clients)
    table += "<tr><td>" + HtmlEscape(c.address) + "</td><td>" + std::to_string(c.accepted) + "</td><td>" +
             std::to_string(c.refused) + "</td></tr>\n";
  return table + "</table>\n";
}

bool IsFinalState(const std::string& state) {
  return state == state::kDone || state == state::kFailed || state == state::kExpired;
}

long long FollowMs(int maxWaitMinutes, int retryPauseSeconds, int ringSeconds, int maxCallSeconds, int snoozes,
                   int snoozeMinutes) {
  const long long snoozed = static_cast<long long>(snoozes) * (snoozeMinutes * 60LL + ringSeconds + maxCallSeconds);
  return (static_cast<long long>(maxWaitMinutes) * 60 + retryPauseSeconds + ringSeconds + maxCallSeconds + 60 + snoozed) *
         1000;
}

int AskAgainSeconds(const CallRecord& call, long long nowMs) {
  if (IsFinalState(call.state)) return 0;
  if (call.nextMs && *call.nextMs > nowMs) {
    const long long seconds = (*call.nextMs - nowMs + 999) / 1000;
    return static_cast<int>(std::min<long long>(seconds, 24 * 3600));
  }
  return kAskAgainSeconds;
}

std::string CallJson(const CallRecord& c, const ViewOptions& options) {
  using nlohmann::json;
  const bool final = IsFinalState(c.state);
  const long long followUntil = c.createdMs + options.followMs;
  json j = {{"id", c.id},
            {"number", MaskNumber(c.number)},
            {"state", c.state},
            {"attempts", c.attempts},
            {"max_attempts", c.maxAttempts},
            {"received", UtcStamp(c.createdMs)},
            {"updated", UtcStamp(c.updatedMs)},
            {"next_attempt", c.nextMs ? json(UtcStamp(*c.nextMs)) : json(nullptr)},
            {"reason", c.reason},
            {"node", c.node.empty() ? json(nullptr) : json(c.node)},
            {"selfdelete", c.selfDelete},
            {"firstocc", c.firstOcc},
            {"text_removed", !c.text.has_value()},
            {"final", final},
            {"ask_again_seconds", AskAgainSeconds(c, options.nowMs)},
            {"follow_until", UtcStamp(followUntil)},
            {"follow_seconds", final ? 0 : std::max(0LL, (followUntil - options.nowMs + 999) / 1000)}};
  if (options.showText) j["text"] = c.text ? json(*c.text) : json(nullptr);
  // Who answered the last try that was answered: person, machine, not sure; null when none was.
  j["answerer"] = nullptr;
  for (const AttemptRecord& a : c.history)
    if (!a.answerer.empty()) j["answerer"] = a.answerer;
  json history = json::array();
  for (const AttemptRecord& a : c.history) {
    history.push_back({{"attempt", a.attempt},
                       {"line", a.line},
                       {"node", a.node},
                       {"started", UtcStamp(a.startedMs)},
                       {"answered", a.answeredMs ? json(UtcStamp(*a.answeredMs)) : json(nullptr)},
                       {"ended", a.endedMs ? json(UtcStamp(*a.endedMs)) : json(nullptr)},
                       {"outcome", a.outcome},
                       {"answerer", a.answerer.empty() ? json(nullptr) : json(a.answerer)},
                       {"detail", a.detail},
                       {"dialled", DialledJson(a.dialled)}});
  }
  j["history"] = history;
  // Invalid UTF-8 cannot reach here (texts are decoded from code page 1252), but the dump
  // must not throw whatever the store holds.
  return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string ConsoleList(const std::vector<CallRecord>& calls, const ViewOptions& options) {
  std::string out;
  char line[512];
  if (options.showNodes) {
    out += "nodes:\n";
    for (const NodeRecord& n : options.nodes)
      out += "  " + VisibleText(n.node) + " (" + VisibleText(n.host) + "): " + NodeStateText(n) + "; last seen " +
             LocalTime(n.seenMs) + "; lines in use " + std::to_string(n.linesInUse) + " of " +
             std::to_string(n.lines) + "; registration " + VisibleText(n.registration.empty() ? "none" : n.registration) +
             "\n";
    if (options.nodes.empty()) out += "  (none)\n";
    out += "\n";
  }
  std::snprintf(line, sizeof line, "%6s  %s%-14s  %-9s  %-8s  %-19s  %-19s  %s\n", "id",
                options.showNodes ? "node          " : "", "number", "state", "attempts", "received", "last change",
                "reason");
  out += line;
  for (const CallRecord& c : calls) {
    char node[80] = "";
    if (options.showNodes) std::snprintf(node, sizeof node, "%-12s  ", VisibleText(c.node.empty() ? "-" : c.node).c_str());
    std::snprintf(line, sizeof line, "%6lld  %s%-14s  %-9s  %-8s  %-19s  %-19s  ", c.id, node,
                  MaskNumber(c.number).c_str(), c.state.c_str(), AttemptsText(c).c_str(),
                  LocalTime(c.createdMs).c_str(), LocalTime(c.updatedMs).c_str());
    out += line;
    // Reasons carry what the PBX or the callee said, texts what a client sent: shown, never
    // acted on by the terminal.
    out += VisibleText(ReasonText(c)) + "\n";
    if (const std::string tries = TriesText(c); !tries.empty()) out += "        " + VisibleText(tries) + "\n";
    if (options.showText) {
      if (!c.text) {
        out += "        (text removed)\n";
        continue;
      }
      std::string indented = "        ";
      for (char ch : VisibleText(*c.text, true)) {
        indented += ch;
        if (ch == '\n') indented += "        ";
      }
      while (!indented.empty() && (indented.back() == ' ' || indented.back() == '\n')) indented.pop_back();
      out += indented + "\n";
    }
  }
  if (calls.empty()) out += "(no calls)\n";
  return out;
}

}  // namespace talmery
