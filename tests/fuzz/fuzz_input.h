#pragma once
// Splits a fuzzer's bytes into fields at 0x1F (unit separator), so one input can drive several
// text parameters.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::string> SplitFuzzInput(const uint8_t* data, size_t size, size_t fields) {
  std::vector<std::string> out(fields);
  size_t field = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0x1F && field + 1 < fields) {
      ++field;
      continue;
    }
    out[field] += static_cast<char>(data[i]);
  }
  return out;
}

#define FUZZ_CHECK(condition)                                         \
  do {                                                                \
    if (!(condition)) {                                               \
      __builtin_printf("check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      __builtin_trap();                                               \
    }                                                                 \
  } while (0)
