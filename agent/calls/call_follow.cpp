#include "agent/calls/call_follow.h"

#include <algorithm>

#include "agent/calls/json_reader.h"
#include "agent/calls/ole_date.h"

namespace {

// The gateway's states and its tries' outcomes (what its store records).
constexpr char kDone[] = "done";
constexpr char kFailed[] = "failed";
constexpr char kExpired[] = "expired";

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }
bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// "404 Not Found" and the like: what a telephone system answers, three digits first.
bool IsSipStatusText(const std::string& detail) {
  return detail.size() >= 3 && detail[0] >= '3' && detail[0] <= '6' && detail[1] >= '0' && detail[1] <= '9' &&
         detail[2] >= '0' && detail[2] <= '9' && (detail.size() == 3 || detail[3] == ' ');
}

std::string Tries(int count) { return std::to_string(count) + (count == 1 ? " try" : " tries"); }

}  // namespace

CallStateRead ReadCallState(int httpStatus, const std::string& body, CallState& out) {
  if (httpStatus != 200) return CallStateRead::Stop;
  JsonValue json;
  if (!JsonValue::Parse(body, json) || json.kind() != JsonValue::Kind::Object) return CallStateRead::Stop;
  const JsonValue* state = json.Member("state");
  const JsonValue* final = json.Member("final");
  if (!state || !state->IsString() || state->StringOr("").empty() || !final || final->kind() != JsonValue::Kind::Bool)
    return CallStateRead::Stop;
  CallState call;
  call.state = state->StringOr("");
  call.final = final->BoolOr(false);
  const auto integer = [&](const char* name, long long low, long long high) {
    const JsonValue* v = json.Member(name);
    const long long n = v ? v->IntegerOr(0) : 0;
    return n < low ? low : n > high ? high : n;
  };
  call.attempts = static_cast<int>(integer("attempts", 0, 1000));
  call.maxAttempts = static_cast<int>(integer("max_attempts", 0, 1000));
  call.askAgainSeconds = static_cast<int>(integer("ask_again_seconds", 0, 24 * 3600));
  call.followSeconds = integer("follow_seconds", 0, 7 * 24 * 3600);
  if (const JsonValue* reason = json.Member("reason")) call.reason = reason->StringOr("");
  if (const JsonValue* history = json.Member("history")) {
    for (const JsonValue& item : history->Items()) {
      const JsonValue* outcome = item.Member("outcome");
      const JsonValue* detail = item.Member("detail");
      call.tries.push_back({outcome ? outcome->StringOr("") : "", detail ? detail->StringOr("") : ""});
    }
  }
  out = std::move(call);
  return CallStateRead::State;
}

std::string UndeliveredWords(const CallState& call) {
  if (!call.final) return "";
  const CallState::Try last = call.tries.empty() ? CallState::Try{} : call.tries.back();
  if (call.state == kExpired) return "the gateway could not place it in time";
  if (call.state == kDone) {
    // Answered, but by a machine: nobody heard it. The gateway's words say so.
    if (StartsWith(call.reason, "answered by a machine") || Contains(call.reason, "voicemail") ||
        Contains(last.detail, "voicemail"))
      return kLeftOnVoicemailWords;
    return "";
  }
  if (call.state != kFailed) return "";
  const int tries = call.attempts > 0 ? call.attempts : static_cast<int>(call.tries.size());
  // A mailbox answered and the gateway was told to leave nothing there (voicemail = hang_up, or
  // retry until the tries ran out).
  if (Contains(last.detail, "hung up without a message") || Contains(call.reason, "hung up without a message"))
    return "a voicemail answered and no message was left" + (tries > 1 ? " (" + Tries(tries) + ")" : std::string());
  if (last.outcome == "no answer") {
    if (StartsWith(last.detail, "answered, not confirmed")) return "answered but not confirmed after " + Tries(tries);
    return "not answered after " + Tries(tries);
  }
  if (last.outcome == "busy") return "busy";
  if (last.outcome == "temporary failure")
    return "the telephone system could not take it" + (last.detail.empty() ? "" : ": " + last.detail);
  if (last.outcome == "interrupted") return "the gateway stopped while dialling it; the phone may have rung";
  if (Contains(last.detail, "redirect to the number")) return "the number may not be called from this gateway";
  if (IsSipStatusText(last.detail)) return "the telephone system refused it: " + last.detail;
  const std::string& why = !last.detail.empty() ? last.detail : call.reason;
  return why.empty() ? "it could not be placed" : "it could not be placed: " + why;
}

std::string UndeliveredNotice(const std::string& subject, const std::string& start, const std::string& number,
                              const std::string& why) {
  std::string text = "The reminder call did not reach you.\r\n";
  text += "Appointment: " + (subject.empty() ? std::string("(no subject)") : subject);
  if (!start.empty()) text += ", " + start;
  text += "\r\nNumber: " + number + "\r\nWhy: " + why + ".";
  return text;
}

std::string StartText(double oleDate) {
  // Seconds since 1899-12-30 00:00 to a civil date (proleptic Gregorian calendar).
  const long long seconds = OleDateToSeconds(oleDate);
  long long days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const long long z = days - 25569 + 719468;  // days since 0000-03-01
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long dayOfEra = z - era * 146097;
  const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long mp = (5 * dayOfYear + 2) / 153;
  const long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const long long month = mp < 10 ? mp + 3 : mp - 9;
  const long long year = yearOfEra + era * 400 + (month <= 2);
  // Digits by hand: the C++ library's snprintf brings a whole printf of its own into the agent.
  const auto digits = [](long long value, size_t width) {
    std::string text = std::to_string(value < 0 ? -value : value);
    if (text.size() < width) text.insert(0, width - text.size(), '0');
    return value < 0 ? "-" + text : text;
  };
  return digits(year, 4) + "-" + digits(month, 2) + "-" + digits(day, 2) + " " + digits(rest / 3600, 2) + ":" +
         digits(rest / 60 % 60, 2);
}

FollowStep NextFollowStep(FollowedCall& call, bool reached, int httpStatus, const std::string& body, long long nowMs,
                          bool tellVoicemail) {
  FollowStep step;
  if (reached) {
    CallState state;
    if (ReadCallState(httpStatus, body, state) == CallStateRead::Stop) {
      step.done = true;
      step.outcome = "not known";
      return step;
    }
    if (state.final) {
      step.done = true;
      const std::string why = UndeliveredWords(state);
      if (!why.empty() && (tellVoicemail || why != kLeftOnVoicemailWords))
        step.tell = UndeliveredNotice(call.subject, call.start, call.number, why);
      step.outcome = why.empty() ? "delivered" : why;
      return step;
    }
    step.outcome = state.state;
    // The gateway's word on how long the call may take replaces the guess, within the bound.
    if (state.followSeconds > 0) call.untilMs = nowMs + std::min(state.followSeconds, kFollowAtMostSeconds) * 1000;
    const long long wait = state.askAgainSeconds > 0 ? state.askAgainSeconds : kFollowEverySeconds;
    call.nextMs = nowMs + wait * 1000;
  } else {
    call.nextMs = nowMs + kFollowEverySeconds * 1000;
    step.outcome = "the gateway cannot be reached";
  }
  if (call.nextMs > call.untilMs) {
    // One last question at the end of the time, unless that has come.
    if (nowMs >= call.untilMs) {
      step.done = true;
      step.outcome = "not known";
    } else {
      call.nextMs = call.untilMs;
    }
  }
  return step;
}

namespace {

// Fields are separated by a tab; a field holds no tab, line end or NUL (they become blanks).
std::string Field(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\t' || c == '\r' || c == '\n' || c == '\0') c = ' ';
  return out;
}

bool ToNumber(const std::string& text, long long& n) {
  if (text.empty() || text.size() > 18) return false;
  n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  return true;
}

}  // namespace

std::string FollowedCallText(const FollowedCall& call) {
  return "1\t" + Field(call.host) + "\t" + std::to_string(call.port) + "\t" + Field(call.requestId) + "\t" +
         Field(call.token) + "\t" + std::to_string(call.nextMs) + "\t" + std::to_string(call.untilMs) + "\t" +
         Field(call.number) + "\t" + Field(call.start) + "\t" + Field(call.subject);
}

bool ParseFollowedCall(const std::string& text, FollowedCall& out) {
  std::vector<std::string> fields;
  size_t at = 0;
  for (;;) {
    const size_t tab = text.find('\t', at);
    fields.push_back(text.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
    if (tab == std::string::npos || fields.size() == 10) {
      if (tab != std::string::npos) fields.back() = text.substr(at);  // the subject: the rest
      break;
    }
    at = tab + 1;
  }
  long long port = 0, next = 0, until = 0;
  if (fields.size() != 10 || fields[0] != "1" || !ToNumber(fields[2], port) || port > 65535 ||
      !ToNumber(fields[5], next) || !ToNumber(fields[6], until) || fields[1].empty() || fields[3].empty() ||
      fields[4].empty())
    return false;
  FollowedCall call;
  call.host = fields[1];
  call.port = static_cast<uint16_t>(port);
  call.requestId = fields[3];
  call.token = fields[4];
  call.nextMs = next;
  call.untilMs = until;
  call.number = fields[7];
  call.start = fields[8];
  call.subject = fields[9];
  out = std::move(call);
  return true;
}

std::string ComposeRecentCallsText(const std::vector<RecentCall>& calls) {
  if (calls.empty()) return "";
  std::string text = "\r\n\r\nReminder calls of this session:";
  for (const RecentCall& call : calls)
    text += "\r\n    " + call.start + "  " + (call.subject.empty() ? "(no subject)" : call.subject) + ", " +
            call.number + ": " + call.outcome;
  return text;
}

std::string RecentCallText(const RecentCall& call) {
  return "1\t" + std::to_string(call.noticedMs) + "\t" + Field(call.start) + "\t" + Field(call.number) + "\t" +
         Field(call.outcome) + "\t" + Field(call.subject);
}

bool ParseRecentCall(const std::string& text, RecentCall& out) {
  std::vector<std::string> fields;
  size_t at = 0;
  while (fields.size() < 5) {
    const size_t tab = text.find('\t', at);
    if (tab == std::string::npos) return false;
    fields.push_back(text.substr(at, tab - at));
    at = tab + 1;
  }
  fields.push_back(text.substr(at));  // the subject: the rest
  long long noticed = 0;
  if (fields[0] != "1" || !ToNumber(fields[1], noticed)) return false;
  out = RecentCall{fields[2], fields[5], fields[3], fields[4], noticed};
  return true;
}
