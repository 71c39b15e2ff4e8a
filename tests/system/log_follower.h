#pragma once
// Follows a log file that another process appends to, line by line, reading only what is new.
// Each line is stamped with the moment this process first saw it (for the benchmarks).
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tools/outlook-sim/driver/sim_driver.h"

namespace systemtest {

struct SeenLine {
  std::string text;
  double seenAtMs = 0;  // NowMs() when the line was first read
};

// Milliseconds of the performance counter: one clock for every process on the machine.
double NowMs();

class LogFollower {
 public:
  explicit LogFollower(std::wstring path) : path_(std::move(path)) {}
  // Reads what was appended since the last call; returns the number of new complete lines.
  size_t Poll();
  const std::vector<SeenLine>& Lines() const { return lines_; }
  // Index of the first line at or after `from` that starts with prefix; -1 if none yet.
  long Find(const std::string& prefix, size_t from = 0) const;
  size_t Count(const std::string& prefix) const;
  // Polls (dispatching messages in between, so COM calls to this thread are served) until
  // a line starting with prefix exists at or after `from`; its index, or -1 on timeout.
  long WaitFor(const std::string& prefix, DWORD timeoutMs, size_t from = 0);
  // The same for the n-th (1-based) line starting with prefix, counted from the beginning.
  long WaitForCount(const std::string& prefix, size_t n, DWORD timeoutMs);

 private:
  std::wstring path_;
  unsigned long long offset_ = 0;
  std::string partial_;
  std::vector<SeenLine> lines_;
};

// Dispatches messages until done() holds or timeoutMs passes, waking at least every pollMs.
inline bool PumpWhile(const std::function<bool()>& done, DWORD timeoutMs, DWORD pollMs = 5) {
  return simdriver::PumpUntil(done, timeoutMs, pollMs);
}

}  // namespace systemtest
