#pragma once
// One line per event, in logfmt ("time=... event=state call=12 state=dialling ..."), for
// journald or a file. Secrets registered here (the SIP password) are blanked out of every line,
// whatever its source, as a second line of defence behind never logging them.
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace talmery {

using LogFields = std::vector<std::pair<std::string, std::string>>;

// The UTF-8 sequence at `at`: its length, with its code point in `cp`; 0 when the bytes there
// are no well-formed UTF-8 (a stray byte, an overlong form, a surrogate).
size_t Utf8At(const std::string& text, size_t at, uint32_t& cp);

// `text` with every control character (C0, DEL, and C1 such as the CSI U+009B that terminals
// take as an escape) and every byte that is not UTF-8 written as \xNN (newline, return and tab
// as \n, \r, \t), so that what a stranger sent can neither act on a terminal nor split a line.
// keepLines: newlines and tabs stay as they are (a text printed over several lines).
std::string VisibleText(const std::string& text, bool keepLines = false);

// key=value, the value quoted when it needs to be, with \" and \\ and every control byte
// escaped as VisibleText does.
std::string FormatLogLine(const std::string& time, const std::string& event, const LogFields& fields);
// Replaces every occurrence of each secret by "***".
std::string Redact(std::string text, const std::vector<std::string>& secrets);
// Milliseconds since the epoch as "2026-12-08T21:59:05.123Z".
std::string UtcStamp(long long epochMs);
long long NowMs();

// Refusals told once per client address and reason in each interval: the first at once, then,
// while they go on, one summary per interval with how many more came, so that a stranger's flood
// costs a line a minute and not one per request (journald would drop the gateway's own lines).
// Memory is bounded: past kMaxReasons reasons of one address its further reasons are counted
// together, past kMaxAddresses addresses the further ones too.
class RefusalDigest {
 public:
  static constexpr size_t kMaxReasons = 8;
  static constexpr size_t kMaxAddresses = 1024;
  static constexpr char kOtherReasons[] = "(other reasons)";
  static constexpr char kOtherAddresses[] = "(other addresses)";

  explicit RefusalDigest(long long intervalMs) : intervalMs_(intervalMs) {}
  // A refusal: true when it is the first of its kind in its interval and is to be logged now.
  bool Note(const std::string& address, const std::string& reason, long long nowMs);
  struct Summary {
    std::string address, reason;
    long long repeated = 0;  // refusals since the kind's last line
  };
  // Each kind whose interval has ended with refusals not yet told (the next interval begins);
  // kinds that had none are forgotten. `all`: every kind with refusals not yet told (at a stop).
  std::vector<Summary> Due(long long nowMs, bool all = false);
  long long IntervalMs() const { return intervalMs_; }

 private:
  struct Tally {  // of one address and reason
    long long since = 0;
    long long repeated = 0;
  };
  const long long intervalMs_;
  std::mutex mu_;
  std::map<std::pair<std::string, std::string>, Tally> kinds_;
  std::map<std::string, size_t> reasons_;  // kinds held per address
};

class EventLog {
 public:
  explicit EventLog(FILE* out = stderr) : out_(out) {}
  void AddSecret(const std::string& secret);
  void Write(const std::string& event, const LogFields& fields);

 private:
  std::mutex mu_;
  FILE* out_;
  std::vector<std::string> secrets_;
};

}  // namespace talmery
