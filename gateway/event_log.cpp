#include "gateway/event_log.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace talmery {

size_t Utf8At(const std::string& text, size_t at, uint32_t& cp) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b = byte(at);
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  size_t length = 0;
  uint32_t min = 0;
  if (b >= 0xC2 && b <= 0xDF) length = 2, cp = b & 0x1F, min = 0x80;
  else if (b >= 0xE0 && b <= 0xEF) length = 3, cp = b & 0x0F, min = 0x800;
  else if (b >= 0xF0 && b <= 0xF4) length = 4, cp = b & 0x07, min = 0x10000;
  else return 0;
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (byte(at + i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

namespace {

bool IsControl(uint32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

// Appends `text` as VisibleText does; `quoted` also escapes the quote and the backslash.
void AppendVisible(std::string& out, const std::string& text, bool keepLines, bool quoted) {
  static const char hex[] = "0123456789abcdef";
  for (size_t at = 0; at < text.size();) {
    uint32_t cp = 0;
    const size_t length = Utf8At(text, at, cp);
    if (length == 0 || IsControl(cp)) {
      const char c = text[at];
      if (keepLines && (c == '\n' || c == '\t')) out += c;
      else if (c == '\n') out += "\\n";
      else if (c == '\r') out += "\\r";
      else if (c == '\t') out += "\\t";
      else
        for (size_t i = 0; i < std::max<size_t>(length, 1); ++i) {
          const unsigned char b = static_cast<unsigned char>(text[at + i]);
          out += "\\x";
          out += hex[b >> 4];
          out += hex[b & 15];
        }
      at += std::max<size_t>(length, 1);
      continue;
    }
    if (quoted && (cp == '"' || cp == '\\')) out += '\\';
    out.append(text, at, length);
    at += length;
  }
}

}  // namespace

std::string VisibleText(const std::string& text, bool keepLines) {
  std::string out;
  out.reserve(text.size());
  AppendVisible(out, text, keepLines, false);
  return out;
}

std::string FormatLogLine(const std::string& time, const std::string& event, const LogFields& fields) {
  std::string line = "time=" + time + " event=" + event;
  for (const auto& [key, value] : fields) {
    line += ' ';
    line += key;
    line += '=';
    bool quote = value.empty();
    for (unsigned char c : value)
      if (c <= ' ' || c == '"' || c == '=' || c == '\\' || c >= 0x7F) quote = true;
    if (!quote) {
      line += value;
      continue;
    }
    line += '"';
    AppendVisible(line, value, false, true);
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
  char buffer[80];  // room for any int the fields may hold, not only real dates
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(epochMs % 1000));
  return buffer;
}

bool RefusalDigest::Note(const std::string& address, const std::string& reason, long long nowMs) {
  std::lock_guard<std::mutex> lock(mu_);
  std::pair<std::string, std::string> key(address, reason);
  if (!kinds_.count(key)) {
    if (!reasons_.count(address) && reasons_.size() >= kMaxAddresses) key.first = kOtherAddresses;
    if (!kinds_.count(key) && reasons_[key.first] >= kMaxReasons) key.second = kOtherReasons;
  }
  auto it = kinds_.find(key);
  if (it != kinds_.end()) {
    ++it->second.repeated;
    return false;
  }
  kinds_[key].since = nowMs;
  ++reasons_[key.first];
  return true;
}

std::vector<RefusalDigest::Summary> RefusalDigest::Due(long long nowMs, bool all) {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<Summary> due;
  for (auto it = kinds_.begin(); it != kinds_.end();) {
    Tally& kind = it->second;
    if (!all && nowMs - kind.since < intervalMs_) {
      ++it;
      continue;
    }
    if (kind.repeated > 0) {
      due.push_back({it->first.first, it->first.second, kind.repeated});
      kind.repeated = 0;
      kind.since = nowMs;
      ++it;
      continue;
    }
    if (--reasons_[it->first.first] == 0) reasons_.erase(it->first.first);
    it = kinds_.erase(it);
  }
  return due;
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
