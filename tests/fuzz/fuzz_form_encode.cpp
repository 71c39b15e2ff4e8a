// Form encoding loses nothing: decoding gives back every input byte, and the output holds only
// letters, digits, '+' and lowercase escapes.
#include "agent/calls/call_text.h"
#include "tests/fuzz/fuzz_input.h"
#include "tools/gateway/form.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string encoded = FormUrlEncode(text);
  FUZZ_CHECK(gateway::FormUrlDecode(encoded) == text);
  for (size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       c == '+' || c == '%';
    FUZZ_CHECK(plain);
    if (c == '%') {
      FUZZ_CHECK(i + 2 < encoded.size());
      for (size_t k = 1; k <= 2; ++k) {
        const char h = encoded[i + k];
        FUZZ_CHECK((h >= '0' && h <= '9') || (h >= 'a' && h <= 'f'));
      }
      i += 2;
    }
  }
  return 0;
}
