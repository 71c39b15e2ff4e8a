#include "tools/gateway/response.h"

namespace gateway {

std::string ResponseHead(const Answer& answer, size_t bodyLength) {
  std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " + answer.reason + "\r\n";
  head += "Content-Type: text/html\r\n";
  if (!answer.location.empty()) head += "Location: " + answer.location + "\r\n";
  if (answer.announceLength) head += "Content-Length: " + std::to_string(bodyLength) + "\r\n";
  head += "Connection: close\r\n\r\n";
  return head;
}

}  // namespace gateway
