// The launcher's reading of the `path` value: whatever the value holds, the name fits its
// buffer, is NUL-terminated and is a prefix of the value's text.
#include "addin/application_name.h"
#include "tests/fuzz/fuzz_input.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so ASan sees any read past the bytes the registry delivered.
  std::vector<char> value(data, data + size);
  char name[kApplicationNameCapacity + 8];
  std::memset(name, 'G', sizeof name);
  const bool ok = ApplicationNameFromPathValue(value.data(), value.size(), name,
                                               kApplicationNameCapacity);
  for (size_t i = kApplicationNameCapacity; i < sizeof name; ++i) FUZZ_CHECK(name[i] == 'G');
  const size_t len = strnlen(name, kApplicationNameCapacity);
  FUZZ_CHECK(len < kApplicationNameCapacity);
  if (ok) {
    FUZZ_CHECK(len <= value.size());
    FUZZ_CHECK(len == 0 || std::memcmp(name, value.data(), len) == 0);
    FUZZ_CHECK(len == value.size() || value[len] == '\0');
  } else {
    FUZZ_CHECK(len == 0);
  }
  return 0;
}
