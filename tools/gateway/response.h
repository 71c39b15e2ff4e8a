#pragma once
// The bytes of an answer's status line and headers.
#include <string>

#include "tools/gateway/gateway_server.h"

namespace gateway {

// "HTTP/1.1 <status> <reason>", Content-Type, Location (when set), Content-Length (when announced)
// and "Connection: close", ended by the empty line.
std::string ResponseHead(const Answer& answer, size_t bodyLength);

}  // namespace gateway
