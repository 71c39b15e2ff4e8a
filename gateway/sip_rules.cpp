#include "gateway/sip_rules.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "gateway/number_patterns.h"

namespace talmery {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == prefix;
}

// Digits, with a '+' in front at most: what the agents send as a number.
bool IsNumber(const std::string& text) {
  const size_t first = !text.empty() && text[0] == '+' ? 1 : 0;
  if (text.size() == first) return false;
  return std::all_of(text.begin() + static_cast<long>(first), text.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

bool ParseSipTarget(const std::string& text, SipTarget& out) {
  std::string uri = text;
  if (!uri.empty() && uri.front() == '<') uri = uri.substr(1, uri.find('>') - 1);
  if (StartsWithNoCase(uri, "sip:")) uri = uri.substr(4);
  else if (StartsWithNoCase(uri, "sips:")) uri = uri.substr(5);
  else return false;
  uri = uri.substr(0, uri.find_first_of("?>"));
  const size_t at = uri.rfind('@');
  out.user = at == std::string::npos ? "" : uri.substr(0, std::min(uri.find(';'), at));
  std::string host = at == std::string::npos ? uri : uri.substr(at + 1);
  host = host.substr(0, host.find(';'));
  if (!host.empty() && host[0] == '[') {
    const size_t close = host.find(']');
    if (close == std::string::npos) return false;
    host = host.substr(1, close - 1);
  } else {
    host = host.substr(0, host.find(':'));
  }
  out.host = Lower(host);
  return !out.host.empty();
}

std::vector<std::string> PbxHosts(const Config& config) {
  std::vector<std::string> hosts;
  for (const std::string& uri : {config.DialTemplate(), config.sip.outboundProxy, "sip:" + config.sip.domain}) {
    SipTarget target;
    if (uri == "sip:" || !ParseSipTarget(uri, target)) continue;
    if (std::find(hosts.begin(), hosts.end(), target.host) == hosts.end()) hosts.push_back(target.host);
  }
  return hosts;
}

RedirectVerdict CheckRedirect(const Config& config, const std::vector<std::string>& pbxAddresses,
                              const std::string& targetUri) {
  RedirectVerdict verdict;
  SipTarget target;
  if (!ParseSipTarget(targetUri, target)) {
    verdict.host = targetUri.substr(0, 64);
    return verdict;  // not a SIP address of any host
  }
  verdict.host = target.host;
  const std::vector<std::string> hosts = PbxHosts(config);
  if (std::find(hosts.begin(), hosts.end(), target.host) == hosts.end() &&
      std::find(pbxAddresses.begin(), pbxAddresses.end(), target.host) == pbxAddresses.end())
    return verdict;
  // The template's user part around {number}: what the PBX is dialled with for a number.
  SipTarget dial;
  ParseSipTarget(config.DialTemplate(), dial);
  const size_t slot = dial.user.find("{number}");
  const std::string prefix = slot == std::string::npos ? "" : dial.user.substr(0, slot);
  const std::string suffix = slot == std::string::npos ? "" : dial.user.substr(slot + 8);
  verdict.kind = RedirectVerdict::RefusedNumber;
  verdict.number = target.user;
  if (target.user.size() < prefix.size() + suffix.size() || target.user.compare(0, prefix.size(), prefix) != 0 ||
      target.user.compare(target.user.size() - suffix.size(), suffix.size(), suffix) != 0)
    return verdict;
  const std::string number = target.user.substr(prefix.size(), target.user.size() - prefix.size() - suffix.size());
  if (!IsNumber(number) || !NumberAllowed(config.numbers, number)) return verdict;
  verdict.kind = RedirectVerdict::Follow;
  verdict.number = number;
  return verdict;
}

std::vector<ConnectionCut> ConnectionsToCut(std::vector<InboundConnection> connections, size_t perAddress,
                                            long long idleLimitMs) {
  std::stable_sort(connections.begin(), connections.end(),
                   [](const InboundConnection& a, const InboundConnection& b) { return a.idleMs < b.idleMs; });
  std::map<std::string, size_t> held;
  std::vector<ConnectionCut> cuts;
  for (const InboundConnection& c : connections) {
    if (c.idleMs > idleLimitMs) cuts.push_back({c.fd, c.peer, true});
    else if (++held[c.peer] > perAddress) cuts.push_back({c.fd, c.peer, false});
  }
  return cuts;
}

int TcpConnectionsPerAddress(const Config& config) { return std::max(32, 2 * config.maxCalls); }

}  // namespace talmery
