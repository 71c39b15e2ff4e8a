#include "tools/phone/netstring.h"

namespace talmery {

std::string EncodeNetstring(const std::string& payload) {
  return std::to_string(payload.size()) + ":" + payload + ",";
}

bool NetstringReader::Next(std::string& payload) {
  if (!error_.empty()) return false;
  size_t length = 0, i = 0;
  for (; i < buffer_.size() && buffer_[i] != ':'; ++i) {
    const char c = buffer_[i];
    if (c < '0' || c > '9' || i >= 9) {
      error_ = "malformed netstring length";
      return false;
    }
    length = length * 10 + static_cast<size_t>(c - '0');
  }
  if (i == buffer_.size()) return false;  // the length is still arriving
  if (i == 0) {
    error_ = "netstring without a length";
    return false;
  }
  if (length > max_) {
    error_ = "netstring of " + std::to_string(length) + " bytes is over the limit";
    return false;
  }
  if (buffer_.size() < i + 1 + length + 1) return false;
  if (buffer_[i + 1 + length] != ',') {
    error_ = "netstring not ended by ','";
    return false;
  }
  payload = buffer_.substr(i + 1, length);
  buffer_.erase(0, i + 1 + length + 1);
  return true;
}

}  // namespace talmery
