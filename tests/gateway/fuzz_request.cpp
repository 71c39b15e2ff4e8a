// Any body posted to the call path: parsing must neither crash nor accept something it should
// not (an accepted request always has digits, a bounded text and no NUL).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gateway/call_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  talmery::CallRequest request;
  std::string reason;
  if (talmery::ParseCallRequest(body, request, reason)) {
    if (request.number.find_first_of("0123456789") == std::string::npos) std::abort();
    if (request.text.find('\0') != std::string::npos) std::abort();
    if (request.text.size() > 3 * talmery::kMaxTextBytes) std::abort();
  } else if (reason.empty()) {
    std::abort();
  }
  return 0;
}
