#pragma once
// What the SIP engine decides about strangers and the PBX's answers, as pure logic: where a
// redirect may lead, which of the connections others opened to sip_port are closed, and how often
// the same complaint about the same address reaches the log. Tested natively without a network.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "gateway/config.h"

namespace talmery {

// The parts of "sip:user@host:port;params" (or sips:, with or without <>) that decide where it
// leads: the user part (up to its own parameters) and the host in lower case, without its port or
// an IPv6 address's brackets. False for anything else (tel:, a URI without a host).
struct SipTarget {
  std::string user, host;
};
bool ParseSipTarget(const std::string& uri, SipTarget& out);

// The PBX as the configuration names it: the hosts of dial, outbound_proxy and domain.
std::vector<std::string> PbxHosts(const Config& config);

// Whether a redirect's target may be dialled: its host is the PBX (one of PbxHosts, or one of
// `pbxAddresses`, what those names resolve to) and its user part, read through the dial
// template (a "0{number}" template's 0 taken off), is a number `numbers` allows.
struct RedirectVerdict {
  enum Kind { Follow, OtherHost, RefusedNumber } kind = OtherHost;
  std::string number;  // the number dialled (Follow), or the user part refused (RefusedNumber)
  std::string host;    // the target's host
};
RedirectVerdict CheckRedirect(const Config& config, const std::vector<std::string>& pbxAddresses,
                              const std::string& targetUri);

// A TCP connection that another host opened to sip_port, as the engine finds it.
struct InboundConnection {
  int fd = -1;
  std::string peer;  // the remote address, without the port
  long long idleMs = 0;  // since data last went either way
};
struct ConnectionCut {
  int fd = -1;
  std::string peer;
  bool idle = false;  // idle too long; else one more than its address may hold
};
// The connections to close: those idle longer than `idleLimitMs`, and per remote address those
// beyond `perAddress` (the least recently active go first).
std::vector<ConnectionCut> ConnectionsToCut(std::vector<InboundConnection> connections, size_t perAddress,
                                            long long idleLimitMs);

// How many connections one address may hold on sip_port: enough for a PBX that opens one for each
// call in progress.
int TcpConnectionsPerAddress(const Config& config);

// The same complaint (a malformed message, a refused request) about the same address is logged
// once per interval, the first at once; how many more came is told when the interval ends. At most
// kMaxKeys addresses are told apart: the rest are counted together under "other".
class LogThrottle {
 public:
  static constexpr size_t kMaxKeys = 1024;
  explicit LogThrottle(long long intervalMs) : intervalMs_(intervalMs) {}
  // True when this is the first of its address and reason in the current interval.
  bool First(const std::string& address, const std::string& reason, long long nowMs);
  struct Repeat {
    std::string address, reason;
    long long count = 0;
  };
  // The repeats counted in the intervals that have ended by `nowMs`; those intervals are forgotten.
  std::vector<Repeat> Due(long long nowMs);
  bool Empty() const { return seen_.empty(); }

 private:
  struct Seen {
    long long since = 0;
    long long count = 0;
  };
  long long intervalMs_;
  std::map<std::pair<std::string, std::string>, Seen> seen_;
};

}  // namespace talmery
