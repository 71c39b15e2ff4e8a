#pragma once
// One line per event, in logfmt ("time=... event=state call=12 state=dialling ..."), for
// journald or a file. Secrets registered here (the SIP password) are blanked out of every line,
// whatever its source, as a second line of defence behind never logging them.
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace talmery {

using LogFields = std::vector<std::pair<std::string, std::string>>;

// key=value, the value quoted (with \" and \\ and \n escaped) when it needs to be.
std::string FormatLogLine(const std::string& time, const std::string& event, const LogFields& fields);
// Replaces every occurrence of each secret by "***".
std::string Redact(std::string text, const std::vector<std::string>& secrets);
// Milliseconds since the epoch as "2026-12-08T21:59:05.123Z".
std::string UtcStamp(long long epochMs);
long long NowMs();

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
