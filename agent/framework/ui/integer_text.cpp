#include "agent/framework/ui/integer_text.h"

#include <limits>

namespace fw {
namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::optional<int32_t> ParseDialogInteger(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t digits = i;
  int64_t magnitude = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  while (i < n && text[i] >= '0' && text[i] <= '9') {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kLimit) return std::nullopt;  // too large for any 32-bit value
    ++i;
  }
  if (i == digits) return std::nullopt;
  while (i < n && IsBlank(text[i])) ++i;
  if (i != n) return std::nullopt;
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max() || value < std::numeric_limits<int32_t>::min()) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace fw
