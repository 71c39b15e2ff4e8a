#include "gateway/event_log.h"

#include <chrono>
#include <ctime>

namespace talmery {

std::string FormatLogLine(const std::string& time, const std::string& event, const LogFields& fields) {
  std::string line = "time=" + time + " event=" + event;
  for (const auto& [key, value] : fields) {
    line += ' ';
    line += key;
    line += '=';
    bool quote = value.empty();
    for (unsigned char c : value)
      if (c <= ' ' || c == '"' || c == '=' || c == '\\' || c == 0x7F) quote = true;
    if (!quote) {
      line += value;
      continue;
    }
    line += '"';
    for (unsigned char c : value) {
      if (c == '"' || c == '\\') {
        line += '\\';
        line += static_cast<char>(c);
      } else if (c == '\n') {
        line += "\\n";
      } else if (c == '\r') {
        line += "\\r";
      } else if (c < ' ' || c == 0x7F) {
        static const char hex[] = "0123456789abcdef";
        line += "\\x";
        line += hex[c >> 4];
        line += hex[c & 15];
      } else {
        line += static_cast<char>(c);
      }
    }
    line += '"';
  }
  return line;
}

std::string Redact(std::string text, const std::vector<std::string>& secrets) {
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
      text.replace(at, secret.size(), "***");
  }
  return text;
}

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string UtcStamp(long long epochMs) {
  const std::time_t seconds = static_cast<std::time_t>(epochMs / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(epochMs % 1000));
  return buffer;
}

void EventLog::AddSecret(const std::string& secret) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!secret.empty()) secrets_.push_back(secret);
}

void EventLog::Write(const std::string& event, const LogFields& fields) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string line = Redact(FormatLogLine(UtcStamp(NowMs()), event, fields), secrets_);
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

}  // namespace talmery
