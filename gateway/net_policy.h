#pragma once
// Who may post calls, to which numbers, how often, and in which code page: the pure rules of the
// HTTP side, free of sockets so that each is tested natively. Times are passed in (ms).
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "gateway/refusal.h"

namespace talmery {

// An address as 16 bytes; IPv4 addresses are held as IPv4-mapped IPv6 (::ffff:a.b.c.d), so that
// a block written as IPv4 also matches a client seen on a dual-stack socket.
using Address16 = std::array<uint8_t, 16>;

struct AddressBlock {
  Address16 base{};
  int prefix = 128;  // bits, counted over the 16 bytes
};

// "192.0.2.7", "10.1.0.0/16", "2001:db8::/32", "::1". False with a reason.
bool ParseAddress(const std::string& text, Address16& out);
bool ParseAddressBlock(const std::string& text, AddressBlock& out, std::string& error);
// A comma- or blank-separated list of addresses and blocks.
bool ParseAddressBlocks(const std::string& text, std::vector<AddressBlock>& out, std::string& error);
bool InBlock(const Address16& address, const AddressBlock& block);
bool InAnyBlock(const Address16& address, const std::vector<AddressBlock>& blocks);
// 127.0.0.0/8, ::1, "localhost".
bool IsLoopbackHost(const std::string& host);
// The blocks of this machine's loopback addresses: 127.0.0.0/8 and ::1.
std::vector<AddressBlock> LoopbackBlocks();

// Glob patterns over the number the agent sent (digits, and a leading '+' when given): '?' one
// character, '*' any run, "[0-9]" / "[135]" / "[!0]" one of a set. Patterns may hold only
// digits, '+', and those characters.
bool ParseNumberPatterns(const std::string& text, std::vector<std::string>& out, std::string& error);
bool GlobMatch(const std::string& pattern, const std::string& text);
// True when `patterns` is empty (every number) or one of them matches.
bool NumberAllowed(const std::vector<std::string>& patterns, const std::string& number);

// The charset parameter of a Content-Type ("application/x-www-form-urlencoded; charset=windows-1250").
// False with a reason when the type is not a URL-encoded form; `codePage` is 0 when no charset
// is given, else the Windows code page named (windows-NNNN, cpNNNN, utf-8 as 65001, or
// iso-8859-1/us-ascii as 1252).
bool ParseFormContentType(const std::string& type, int& codePage, std::string& reason);
// Whether text in `codePage` can be decoded (iconv knows it).
bool CodePageKnown(int codePage);
// The bytes in Windows code page `codePage` as UTF-8; bytes the code page leaves undefined
// become U+FFFD. False when the code page is unknown.
bool CodePageToUtf8(const std::string& bytes, int codePage, std::string& utf8);

// Limits on accepted calls: per client address per minute, in all per 24 hours, and waiting at
// once. The caller checks and records under one lock (see Admission).
struct AdmissionLimits {
  int clientRate = 300;     // per address per minute; 0: no limit
  int dailyCalls = 10000;   // in all per 24 hours; 0: no limit
  int maxQueued = 1000;     // waiting at once; 0: no limit
};

// What each client address did over the last 24 hours, by the hour.
struct ClientActivity {
  std::string address;
  long long accepted = 0, refused = 0;
};

class Admission {
 public:
  explicit Admission(AdmissionLimits limits) : limits_(limits) {}
  // Seeds the 24-hour window (the creation times of calls already stored).
  void Seed(const std::vector<long long>& acceptedMs);
  // The calls other gateways on the same store accepted, as last counted there: in the last 24
  // hours, and per client address in the last minute. They count against the limits beside
  // this gateway's own.
  void SetOthers(long long today, std::map<std::string, long long> minute);
  // Whether one more call from `address` may be accepted, with `waiting` calls waiting now. On
  // yes a place is held (see Accepted / Released); on no `reason` says why and `kind` counts it.
  bool TryAdmit(const std::string& address, long long nowMs, long long waiting, std::string& reason, Refusal& kind);
  // The call held by TryAdmit could not be stored after all.
  void Released(const std::string& address, long long nowMs);
  // A refused request (any reason) from `address`.
  void Refused(const std::string& address, long long nowMs);
  // Per address, most requests first.
  std::vector<ClientActivity> Activity(long long nowMs);

 private:
  struct Hourly {
    std::array<long long, 24> accepted{}, refused{};
    std::array<long long, 24> hour{};  // which hour (since the epoch) each slot holds
  };
  void Count(const std::string& address, long long nowMs, bool accepted, int delta);
  void Expire(long long nowMs);

  AdmissionLimits limits_;
  std::mutex mu_;
  std::map<std::string, std::deque<long long>> minute_;  // accepted per address, last minute
  std::deque<long long> day_;                            // accepted in all, last 24 hours
  long long othersToday_ = 0;                            // see SetOthers
  std::map<std::string, long long> othersMinute_;
  std::map<std::string, Hourly> activity_;
};

constexpr size_t kMaxTrackedClients = 4096;  // further addresses are counted as "other"

}  // namespace talmery
