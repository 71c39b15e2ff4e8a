#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/calls/http_wire.h"

// The whole exchange with the gateway (resolving, connecting, sending, reading the answer) ends
// within this time, whatever the gateway does.
constexpr unsigned long kGatewayDeadlineMs = 30000;
// Each address of the host but the last gets this long to take the connection: a name with an
// address that swallows the connection (an IPv6 record on a network that filters IPv6, one of two
// gateways down) still reaches the next within the deadline. The last gets what is left.
constexpr unsigned long kGatewayConnectMs = 3000;

// Why an exchange failed below the answer grammar (the gateway's own words are not involved).
extern const char kGatewayBadHostText[];        // the stored host cannot be used in a request
extern const char kGatewayUnresolvedText[];     // no address for the host
extern const char kGatewayCannotConnectText[];  // no address took the connection
extern const char kGatewayTimedOutText[];       // the deadline passed with the request sent
extern const char kGatewayBrokenText[];         // the connection failed while sending or reading
extern const char kGatewaySetupFailedText[];    // no socket, event or thread could be had

// Where the gateway listens: the host as the user gave it (UTF-8) and the port.
struct GatewayAddress {
  std::string host;
  uint16_t port = 0;
};

// One exchange with the gateway: the request's bytes out on the first connection made (the host's
// addresses in the resolver's order), the answer read with at most maxBodyBytes of its body kept.
// Within kGatewayDeadlineMs; on a single-threaded apartment incoming COM calls are served
// meanwhile, any other thread just waits. A `cancel` event set meanwhile ends the exchange at once
// as the deadline would. `failure` is empty when an answer was read (any status), else one of the
// texts above or DescribeAnswerFailure's.
struct GatewayExchange {
  std::string failure;
  int status = 0;
  std::string body;
  std::string callToken;  // the answer's Talmery-Call-Token, when it has one
};
GatewayExchange ExchangeWithGateway(const GatewayAddress& gateway, const std::string& request, size_t maxBodyBytes,
                                    void* cancel = nullptr);

// Posts one form body, its text in codePage (named as the request's charset), to `gateway` and
// interprets its answer. The addresses of the host are tried in the resolver's order; the request
// goes out on the first connection made and on no other. Returns within kGatewayDeadlineMs;
// meanwhile incoming COM calls are served when the caller is a single-threaded apartment. Done
// with the request's identifier when the gateway accepted it, else Failed with the reason:
// kGatewayBadHostText for a host that cannot be used (nothing is sent), the answer grammar's
// texts, "Failed to connect to the Talmery Gateway. Make sure it is started." for any status but
// 2xx (redirects are not followed), or one of the texts above. An accepted call's answer carries
// its token when the gateway gave one. Shows nothing to the user.
GatewayAnswer PostToGateway(const GatewayAddress& gateway, const std::string& path, const std::string& body,
                            unsigned codePage);
