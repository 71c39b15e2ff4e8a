// Outlook's version text: the major number is what "%d" of sscanf reads before the first ".",
// and a text without a "." or without a number there is refused.
#include "agent/outlook/outlook_rules.h"
#include "tests/fuzz/fuzz_input.h"

#include <climits>
#include <cstdio>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string version(reinterpret_cast<const char*>(data), size);
  const std::optional<int> major = ParseOutlookMajorVersion(version);
  const bool ok = major.has_value();
  const size_t dot = version.find('.');
  if (dot == std::string::npos) {
    FUZZ_CHECK(!ok);
    return 0;
  }
  const std::string head = version.substr(0, dot);
  // sscanf's %d overflows undefined; compare only where the number fits comfortably.
  const std::string c = head.c_str();
  size_t digits = 0;
  for (char ch : c) digits += (ch >= '0' && ch <= '9');
  if (digits > 9) return 0;
  int expected = 0;
  const int count = std::sscanf(c.c_str(), "%d", &expected);
  FUZZ_CHECK(ok == (count == 1));
  if (ok) FUZZ_CHECK(*major == expected);
  return 0;
}
