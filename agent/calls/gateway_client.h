#pragma once
#include <string>

#include "agent/calls/http_wire.h"

// The whole exchange with the gateway (resolving, connecting, sending, reading the answer) ends
// within this time, whatever the gateway does.
constexpr unsigned long kGatewayDeadlineMs = 30000;

// Why an exchange failed below the answer grammar (the gateway's own words are not involved).
extern const char kGatewayBadHostText[];        // the stored host cannot be used in a request
extern const char kGatewayUnresolvedText[];     // no address for the host
extern const char kGatewayCannotConnectText[];  // refused or unreachable
extern const char kGatewayTimedOutText[];       // the deadline passed
extern const char kGatewayBrokenText[];         // the connection failed while sending or reading
extern const char kGatewaySetupFailedText[];    // no socket, event or thread could be had

// Posts one form body to the gateway named in the settings (host and port are read on every call)
// and interprets its answer. Returns within kGatewayDeadlineMs; meanwhile incoming COM calls are
// served when the caller is a single-threaded apartment. Done with the request's identifier when
// the gateway accepted it, else Failed with the reason: the answer grammar's texts, "Failed to
// connect to the Talmery Gateway. Make sure it is started." for any status but 2xx (redirects are
// not followed), or one of the texts above. Shows nothing to the user.
GatewayAnswer PostToGateway(const std::string& path, const std::string& body);
