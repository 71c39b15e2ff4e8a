#include "gateway/net_policy.h"

#include <arpa/inet.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/url_form.h"

namespace talmery {
namespace {

constexpr long long kMinuteMs = 60 * 1000;
constexpr long long kHourMs = 60 * kMinuteMs;
constexpr long long kDayMs = 24 * kHourMs;

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::string item;
  for (char c : text + ",") {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  return items;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

bool ParseAddress(const std::string& text, Address16& out) {
  in_addr v4{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    out.fill(0);
    out[10] = out[11] = 0xff;
    std::memcpy(&out[12], &v4, 4);
    return true;
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
    std::memcpy(out.data(), &v6, 16);
    return true;
  }
  return false;
}

bool ParseAddressBlock(const std::string& text, AddressBlock& out, std::string& error) {
  const size_t slash = text.find('/');
  const std::string host = text.substr(0, slash);
  if (!ParseAddress(host, out.base)) {
    error = "\"" + text + "\" is not an IPv4 or IPv6 address or block";
    return false;
  }
  const bool v4 = host.find(':') == std::string::npos;
  const int width = v4 ? 32 : 128;
  int prefix = width;
  if (slash != std::string::npos) {
    const std::string bits = text.substr(slash + 1);
    if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(bits) > width) {
      error = "\"" + text + "\": the prefix length must be 0 to " + std::to_string(width);
      return false;
    }
    prefix = std::stoi(bits);
  }
  out.prefix = v4 ? prefix + 96 : prefix;
  // The bits past the prefix do not count ("10.1.2.3/16" is 10.1.0.0/16).
  for (int bit = out.prefix; bit < 128; ++bit) out.base[bit / 8] &= static_cast<uint8_t>(~(0x80u >> (bit % 8)));
  return true;
}

bool ParseAddressBlocks(const std::string& text, std::vector<AddressBlock>& out, std::string& error) {
  out.clear();
  for (const std::string& item : SplitList(text)) {
    AddressBlock block;
    if (!ParseAddressBlock(item, block, error)) return false;
    out.push_back(block);
  }
  return true;
}

bool InBlock(const Address16& address, const AddressBlock& block) {
  const int whole = block.prefix / 8;
  if (std::memcmp(address.data(), block.base.data(), static_cast<size_t>(whole)) != 0) return false;
  const int rest = block.prefix % 8;
  if (rest == 0) return true;
  const uint8_t mask = static_cast<uint8_t>(0xff00u >> rest);
  return (address[whole] & mask) == (block.base[whole] & mask);
}

bool InAnyBlock(const Address16& address, const std::vector<AddressBlock>& blocks) {
  for (const AddressBlock& b : blocks)
    if (InBlock(address, b)) return true;
  return false;
}

bool IsLoopbackHost(const std::string& host) {
  if (host == "localhost") return true;
  std::string bare = host;
  if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') bare = bare.substr(1, bare.size() - 2);
  Address16 a;
  return ParseAddress(bare, a) && InAnyBlock(a, LoopbackBlocks());
}

std::vector<AddressBlock> LoopbackBlocks() {
  std::vector<AddressBlock> blocks;
  std::string ignored;
  ParseAddressBlocks("127.0.0.0/8 ::1", blocks, ignored);
  return blocks;
}

bool ParseNumberPatterns(const std::string& text, std::vector<std::string>& out, std::string& error) {
  out.clear();
  for (const std::string& item : SplitList(text)) {
    bool inSet = false;
    for (size_t i = 0; i < item.size(); ++i) {
      const char c = item[i];
      const bool ok = (c >= '0' && c <= '9') || c == '+' || c == '?' || c == '*' || c == '[' ||
                      (inSet && (c == ']' || c == '-' || (c == '!' && item[i - 1] == '[')));
      if (!ok) {
        error = "\"" + item + "\" is not a number pattern (digits, + ? * and [0-9] only)";
        return false;
      }
      if (c == '[') {
        if (inSet) {
          error = "\"" + item + "\": a [ inside [ ]";
          return false;
        }
        inSet = true;
      } else if (c == ']') {
        inSet = false;
      }
    }
    if (inSet) {
      error = "\"" + item + "\": a [ without ]";
      return false;
    }
    out.push_back(item);
  }
  return true;
}

namespace {

// Matches the set at pattern[p] (just past '[') against c; `end` gets the index past ']'.
bool SetMatches(const std::string& pattern, size_t p, char c, size_t& end) {
  bool negate = false;
  if (p < pattern.size() && pattern[p] == '!') {
    negate = true;
    ++p;
  }
  bool found = false;
  while (p < pattern.size() && pattern[p] != ']') {
    if (p + 2 < pattern.size() && pattern[p + 1] == '-' && pattern[p + 2] != ']') {
      if (c >= pattern[p] && c <= pattern[p + 2]) found = true;
      p += 3;
    } else {
      if (c == pattern[p]) found = true;
      ++p;
    }
  }
  end = p + 1;
  return found != negate;
}

}  // namespace

bool GlobMatch(const std::string& pattern, const std::string& text) {
  // Iterative with one back-track point for the last '*': linear in practice, never exponential.
  size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starT = t;
      continue;
    }
    if (p < pattern.size()) {
      size_t next = p + 1;
      bool ok;
      if (pattern[p] == '?') ok = true;
      else if (pattern[p] == '[') ok = SetMatches(pattern, p + 1, text[t], next);
      else ok = pattern[p] == text[t];
      if (ok) {
        p = next;
        ++t;
        continue;
      }
    }
    if (starP == std::string::npos) return false;
    p = starP;
    t = ++starT;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool NumberAllowed(const std::vector<std::string>& patterns, const std::string& number) {
  if (patterns.empty()) return true;
  for (const std::string& p : patterns)
    if (GlobMatch(p, number)) return true;
  return false;
}

bool ParseFormContentType(const std::string& type, int& codePage, std::string& reason) {
  codePage = 0;
  const size_t semi = type.find(';');
  const std::string media = Lower(Trim(type.substr(0, semi)));
  if (!media.empty() && media != "application/x-www-form-urlencoded") {
    reason = "the request body must be a URL-encoded form";
    return false;
  }
  size_t at = semi;
  while (at != std::string::npos) {
    const size_t next = type.find(';', at + 1);
    const std::string param = Trim(type.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
    at = next;
    const size_t eq = param.find('=');
    if (eq == std::string::npos || Lower(Trim(param.substr(0, eq))) != "charset") continue;
    std::string value = Lower(Trim(param.substr(eq + 1)));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    std::string digits;
    if (value.compare(0, 8, "windows-") == 0) digits = value.substr(8);
    else if (value.compare(0, 2, "cp") == 0) digits = value.substr(2);
    else if (value == "iso-8859-1" || value == "us-ascii") digits = "1252";  // what 1252 extends
    else if (value == "utf-8") digits = "65001";                              // a Windows set to UTF-8
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos ||
        !CodePageKnown(std::stoi(digits))) {
      reason = "the charset " + value.substr(0, 40) + " is not known here";
      return false;
    }
    codePage = std::stoi(digits);
  }
  return true;
}

namespace {

// iconv's name for a Windows code page.
std::string IconvName(int codePage) {
  if (codePage == 65001) return "UTF-8";
  if (codePage >= 1250 && codePage <= 1258) return "WINDOWS-" + std::to_string(codePage);
  return "CP" + std::to_string(codePage);
}

class Iconv {
 public:
  explicit Iconv(int codePage) : descriptor_(iconv_open("UTF-8", IconvName(codePage).c_str())) {}
  ~Iconv() {
    if (Ok()) iconv_close(descriptor_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool Ok() const { return descriptor_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return descriptor_; }

 private:
  iconv_t descriptor_;
};

}  // namespace

bool CodePageKnown(int codePage) {
  if (codePage == 1252) return true;
  return codePage > 0 && Iconv(codePage).Ok();
}

bool CodePageToUtf8(const std::string& bytes, int codePage, std::string& utf8) {
  if (codePage == 1252) {
    utf8 = urlform::Cp1252ToUtf8(bytes);
    return true;
  }
  Iconv cd(codePage);
  if (!cd.Ok() || !CodePageKnown(codePage)) return false;
  utf8.clear();
  std::string in = bytes;
  char* src = in.data();
  size_t left = in.size();
  char buffer[4096];
  while (left > 0) {
    char* dst = buffer;
    size_t room = sizeof buffer;
    const size_t r = iconv(cd.get(), &src, &left, &dst, &room);
    utf8.append(buffer, static_cast<size_t>(dst - buffer));
    if (r == static_cast<size_t>(-1) && errno == EILSEQ) {
      utf8 += "\xEF\xBF\xBD";  // a byte the code page leaves undefined (or a broken sequence)
      ++src;
      --left;
    } else if (r == static_cast<size_t>(-1) && errno == EINVAL) {
      utf8 += "\xEF\xBF\xBD";  // a sequence cut off at the end
      break;
    } else if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      return false;
    }
  }
  return true;
}

void Admission::Seed(const std::vector<long long>& acceptedMs) {
  std::lock_guard<std::mutex> lock(mu_);
  day_.assign(acceptedMs.begin(), acceptedMs.end());
  std::sort(day_.begin(), day_.end());
}

void Admission::SetOthers(long long today, std::map<std::string, long long> minute) {
  std::lock_guard<std::mutex> lock(mu_);
  othersToday_ = today;
  othersMinute_ = std::move(minute);
}

void Admission::Expire(long long nowMs) {
  while (!day_.empty() && day_.front() <= nowMs - kDayMs) day_.pop_front();
}

bool Admission::TryAdmit(const std::string& address, long long nowMs, long long waiting, std::string& reason,
                         Refusal& kind) {
  std::lock_guard<std::mutex> lock(mu_);
  Expire(nowMs);
  std::deque<long long>& minute = minute_[address];
  while (!minute.empty() && minute.front() <= nowMs - kMinuteMs) minute.pop_front();
  const auto others = othersMinute_.find(address);
  const long long fromHere = static_cast<long long>(minute.size()) + (others == othersMinute_.end() ? 0 : others->second);
  if (limits_.clientRate > 0 && fromHere >= limits_.clientRate) {
    kind = Refusal::ClientRate;
    reason = "more than " + std::to_string(limits_.clientRate) + " calls a minute from " + address +
             ": try again in a minute";
  } else if (limits_.dailyCalls > 0 && static_cast<long long>(day_.size()) + othersToday_ >= limits_.dailyCalls) {
    kind = Refusal::DailyCalls;
    reason = "the gateway has taken its " + std::to_string(limits_.dailyCalls) + " calls of the last 24 hours";
  } else if (limits_.maxQueued > 0 && waiting >= limits_.maxQueued) {
    kind = Refusal::QueueFull;
    reason = std::to_string(waiting) + " calls are waiting already: try again later";
  } else {
    minute.push_back(nowMs);
    day_.push_back(nowMs);
    Count(address, nowMs, true, 1);
    return true;
  }
  if (minute.empty()) minute_.erase(address);
  Count(address, nowMs, false, 1);
  return false;
}

void Admission::Released(const std::string& address, long long nowMs) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = minute_.find(address);
  if (it != minute_.end() && !it->second.empty()) it->second.pop_back();
  if (!day_.empty()) day_.pop_back();
  Count(address, nowMs, true, -1);
  Count(address, nowMs, false, 1);
}

void Admission::Refused(const std::string& address, long long nowMs) {
  std::lock_guard<std::mutex> lock(mu_);
  Count(address, nowMs, false, 1);
}

void Admission::Count(const std::string& address, long long nowMs, bool accepted, int delta) {
  auto it = activity_.find(address);
  if (it == activity_.end()) {
    if (activity_.size() >= kMaxTrackedClients) it = activity_.emplace("other", Hourly{}).first;
    else it = activity_.emplace(address, Hourly{}).first;
  }
  const long long hour = nowMs / kHourMs;
  const size_t slot = static_cast<size_t>(hour % 24);
  Hourly& h = it->second;
  if (h.hour[slot] != hour) {
    h.hour[slot] = hour;
    h.accepted[slot] = h.refused[slot] = 0;
  }
  (accepted ? h.accepted : h.refused)[slot] += delta;
  // The minute windows of quiet addresses go, so that many addresses do not pile up.
  if (minute_.size() > kMaxTrackedClients) {
    for (auto m = minute_.begin(); m != minute_.end();) {
      if (m->second.empty() || m->second.back() <= nowMs - kMinuteMs) m = minute_.erase(m);
      else ++m;
    }
  }
}

std::vector<ClientActivity> Admission::Activity(long long nowMs) {
  std::lock_guard<std::mutex> lock(mu_);
  const long long hour = nowMs / kHourMs;
  std::vector<ClientActivity> out;
  for (auto it = activity_.begin(); it != activity_.end();) {
    ClientActivity a;
    a.address = it->first;
    for (size_t slot = 0; slot < 24; ++slot) {
      // The current hour and the 23 before it.
      if (it->second.hour[slot] > hour - 24) {
        a.accepted += it->second.accepted[slot];
        a.refused += it->second.refused[slot];
      }
    }
    if (a.accepted == 0 && a.refused == 0) {
      it = activity_.erase(it);
      continue;
    }
    out.push_back(a);
    ++it;
  }
  std::sort(out.begin(), out.end(), [](const ClientActivity& x, const ClientActivity& y) {
    return x.accepted + x.refused != y.accepted + y.refused ? x.accepted + x.refused > y.accepted + y.refused
                                                            : x.address < y.address;
  });
  return out;
}

}  // namespace talmery
