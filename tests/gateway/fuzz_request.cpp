// Any body posted to the call path: parsing must neither crash nor accept something it should
// not (an accepted request always has digits, a bounded text and no NUL).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "gateway/call_request.h"
#include "gateway/number_patterns.h"

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
  // The head's parts come from anyone too: a Content-Type, and (from the settings) patterns.
  int codePage = 0;
  std::string why;
  if (talmery::ParseFormContentType(body.substr(0, 80), codePage, why)) {
    if (codePage != 0 && !talmery::CodePageKnown(codePage)) std::abort();
  } else if (why.empty()) {
    std::abort();
  }
  std::vector<std::string> patterns;
  if (talmery::ParseNumberPatterns(body.substr(0, 40), patterns, why))
    talmery::NumberAllowed(patterns, body.size() > 40 ? body.substr(40, 40) : body);
  std::string utf8;
  if (!talmery::CodePageToUtf8(body, 1250, utf8) || !talmery::CodePageToUtf8(body, 65001, utf8)) std::abort();
  return 0;
}
