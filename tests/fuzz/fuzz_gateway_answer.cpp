// The gateway's answer grammar on arbitrary bytes: never crashes, and what it extracts really is
// in the answer where the grammar says.
#include "agent/calls/http_wire.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  const GatewayAnswer result = InterpretGatewayAnswer(answer);
  const size_t open = answer.find('[');
  if (result.outcome.Ok()) {
    FUZZ_CHECK(open != std::string::npos);
    FUZZ_CHECK(result.outcome.Message().empty());
    FUZZ_CHECK(answer.compare(open + 1, result.requestId.size(), result.requestId) == 0);
    FUZZ_CHECK(answer.size() > open + 1 + result.requestId.size());
    FUZZ_CHECK(answer[open + 1 + result.requestId.size()] == ']');
    FUZZ_CHECK(result.requestId.find(']') == std::string::npos);
  } else {
    FUZZ_CHECK(result.requestId.empty());
    if (open != std::string::npos) {
      FUZZ_CHECK(result.outcome.Message() == kGatewayUnrecognizedText);
    } else {
      FUZZ_CHECK(answer.find(result.outcome.Message()) != std::string::npos);
      FUZZ_CHECK(result.outcome.Message().find("\r\n") == std::string::npos);
    }
  }
  return 0;
}
