#pragma once
// The gateway's answer grammar: "[id]" accepts a request, an "ERROR: " line or anything else
// refuses it.
#include <cstdint>
#include <string>

extern const char kGatewayUnreachableText[];   // any HTTP status but 2xx
extern const char kGatewayUnrecognizedText[];  // "[" without a "]" after it

// Only a 2xx status carries an answer of the call request handler: a redirect (3xx) is not
// followed, since it could point anywhere, and an error status is no answer to read.
bool IsGatewayFailureStatus(uint32_t status);

struct GatewayAnswer {
  int accepted = 0;  // 1 when the answer holds "[" and a later "]"
  std::string requestId;
  std::string errorText;
};

// Interprets the bytes of the answer (the first read only; may hold NULs).
GatewayAnswer InterpretGatewayAnswer(const std::string& answer);
