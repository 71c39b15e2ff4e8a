#pragma once
// Elapsed time of one call, in milliseconds, from the performance counter.
#include <windows.h>

namespace sim {

class Stopwatch {
 public:
  Stopwatch() { QueryPerformanceCounter(&start_); }
  double Ms() const {
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return static_cast<double>(now.QuadPart - start_.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
  }

 private:
  LARGE_INTEGER start_;
};

}  // namespace sim
