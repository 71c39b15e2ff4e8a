#include "tools/bench/bench_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace systemtest {

Summary Summarize(std::vector<double> values) {
  Summary s;
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  s.n = values.size();
  s.median = s.n % 2 ? values[s.n / 2] : (values[s.n / 2 - 1] + values[s.n / 2]) / 2;
  // Nearest rank.
  const size_t rank = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(s.n)));
  s.p95 = values[std::min(s.n, std::max<size_t>(rank, 1)) - 1];
  s.min = values.front();
  s.max = values.back();
  return s;
}

std::string Describe(const Summary& s, const char* unit, int decimals) {
  if (s.n == 0) return "no samples";
  char text[160];
  std::snprintf(text, sizeof text, "median %.*f %s, p95 %.*f %s (n=%zu)", decimals, s.median, unit, decimals, s.p95,
                unit, s.n);
  return text;
}

}  // namespace systemtest
