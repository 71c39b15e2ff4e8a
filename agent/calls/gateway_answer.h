#pragma once
// The gateway's answer grammar: "[id]" accepts a request, an "ERROR: " line or anything else
// refuses it.
#include <cstdint>
#include <string>

extern const char kGatewayUnreachableText[];   // HTTP status 300 or above
extern const char kGatewayUnrecognizedText[];  // "[" without a "]" after it

// Statuses from 300 up mean the request did not reach the call request handler.
bool IsGatewayFailureStatus(uint32_t status);

struct GatewayAnswer {
  int accepted = 0;  // 1 when the answer holds "[" and a later "]"
  std::string requestId;
  std::string errorText;
};

// Interprets the bytes of the answer (the first read only; may hold NULs).
GatewayAnswer InterpretGatewayAnswer(const std::string& answer);
