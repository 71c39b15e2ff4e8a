#pragma once
// What the SIP engine decides about strangers and the PBX's answers, as pure logic: where a
// redirect may lead, and which of the connections others opened to sip_port are closed. Tested
// natively without a network.
#include <string>
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

}  // namespace talmery
