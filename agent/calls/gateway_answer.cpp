#include "agent/calls/gateway_answer.h"

const char kGatewayUnreachableText[] =
    "Failed to connect to the Talmery Gateway. Make sure it is started.";
const char kGatewayUnrecognizedText[] = "Unrecognized return from Talmery Gateway.";

bool IsGatewayFailureStatus(uint32_t status) { return status < 200 || status >= 300; }

GatewayAnswer InterpretGatewayAnswer(const std::string& answer) {
  GatewayAnswer result;
  // A bracketed identifier wins over everything else, even inside an "ERROR: " line.
  const size_t open = answer.find('[');
  if (open != std::string::npos) {
    const size_t close = answer.find(']', open + 1);
    if (close != std::string::npos) {
      result.accepted = 1;
      result.requestId = answer.substr(open + 1, close - open - 1);
    } else {
      result.errorText = kGatewayUnrecognizedText;
    }
    return result;
  }
  std::string text = answer;
  const size_t error = text.find("ERROR: ");
  if (error != std::string::npos) text.erase(0, error);
  const size_t lineEnd = text.find("\r\n");
  if (lineEnd != std::string::npos) text.erase(lineEnd);
  result.errorText = text;
  return result;
}
