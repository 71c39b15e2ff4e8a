#pragma once
// The keys a callee presses, as SIP carries them out of band: in an INFO request (RFC 2976)
// whose body is application/dtmf-relay or application/dtmf.
#include <string>

namespace talmery {

// The key a SIP INFO carries: application/dtmf-relay ("Signal=1\r\nDuration=160") or
// application/dtmf ("1"); 0 when it carries none.
char InfoKey(const std::string& contentType, const std::string& body);

}  // namespace talmery
