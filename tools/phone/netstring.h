#pragma once
// Netstrings ("<length>:<bytes>,"), the framing of baresip's TCP control channel.
#include <cstddef>
#include <string>

namespace talmery {

std::string EncodeNetstring(const std::string& payload);

// Collects bytes from a stream and hands out whole netstrings. A malformed stream (no length,
// a length above the limit, a missing ',') is an error from which the reader does not recover:
// the connection must be dropped.
class NetstringReader {
 public:
  explicit NetstringReader(size_t maxLength = 1 << 20) : max_(maxLength) {}
  void Feed(const char* data, size_t size) { buffer_.append(data, size); }
  // True with the next payload; false when more bytes are needed or on error (see Failed).
  bool Next(std::string& payload);
  bool Failed() const { return !error_.empty(); }
  const std::string& Error() const { return error_; }

 private:
  size_t max_;
  std::string buffer_;
  std::string error_;
};

}  // namespace talmery
