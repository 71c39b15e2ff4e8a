#pragma once
// Summaries of timed samples for the benchmark table.
#include <string>
#include <vector>

namespace systemtest {

struct Summary {
  size_t n = 0;
  double median = 0, p95 = 0, min = 0, max = 0;
};

Summary Summarize(std::vector<double> values);
// "median 4.1 ms, p95 6.0 ms (n=40)" with the given unit and precision.
std::string Describe(const Summary& s, const char* unit = "ms", int decimals = 1);

}  // namespace systemtest
