#include "tests/system/log_follower.h"

#include "common/win/handles.h"

namespace systemtest {

double NowMs() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticksPerMs;
}

size_t LogFollower::Poll() {
  win::FileHandle file(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || static_cast<unsigned long long>(size.QuadPart) <= offset_) return 0;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset_);
  SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN);
  const double seen = NowMs();
  char buffer[65536];
  DWORD read = 0;
  size_t added = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    offset_ += read;
    partial_.append(buffer, read);
    size_t start = 0;
    for (size_t nl = partial_.find('\n'); nl != std::string::npos; nl = partial_.find('\n', start)) {
      std::string line = partial_.substr(start, nl - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines_.push_back({std::move(line), seen});
      ++added;
      start = nl + 1;
    }
    partial_.erase(0, start);
  }
  return added;
}

long LogFollower::Find(const std::string& prefix, size_t from) const {
  for (size_t i = from; i < lines_.size(); ++i) {
    if (lines_[i].text.compare(0, prefix.size(), prefix) == 0) return static_cast<long>(i);
  }
  return -1;
}

size_t LogFollower::Count(const std::string& prefix) const {
  size_t n = 0;
  for (const SeenLine& line : lines_) n += line.text.compare(0, prefix.size(), prefix) == 0;
  return n;
}

long LogFollower::WaitFor(const std::string& prefix, DWORD timeoutMs, size_t from) {
  long found = -1;
  PumpWhile(
      [&] {
        Poll();
        found = Find(prefix, from);
        return found >= 0;
      },
      timeoutMs);
  return found;
}

long LogFollower::WaitForCount(const std::string& prefix, size_t n, DWORD timeoutMs) {
  long found = -1;
  PumpWhile(
      [&] {
        Poll();
        size_t seen = 0;
        for (size_t i = 0; i < lines_.size(); ++i) {
          if (lines_[i].text.compare(0, prefix.size(), prefix) == 0 && ++seen == n) {
            found = static_cast<long>(i);
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}

}  // namespace systemtest
