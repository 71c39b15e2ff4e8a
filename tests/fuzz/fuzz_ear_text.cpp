// The text for the ear on arbitrary bytes: never crashes, never lets a control character through
// to the engine, and ends on a sentence's end.
#include "gateway/ear_text.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string heard = talmery::EarText(text);
  for (char c : heard) FUZZ_CHECK(!(static_cast<unsigned char>(c) < 0x20 || c == 0x7F));
  if (!heard.empty()) {
    const char last = heard.back();
    FUZZ_CHECK(last == '.' || last == '!' || last == '?');
    FUZZ_CHECK(heard.front() != ' ');
  }
  return 0;
}
