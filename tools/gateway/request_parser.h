#pragma once
// Assembles one HTTP/1.1 request from the segments a connection delivers: the head up to the
// first empty line, then exactly Content-Length body bytes.
#include <cstddef>
#include <string>

#include "tools/gateway/gateway_server.h"

namespace gateway {

class RequestParser {
 public:
  enum class Status { NeedMore, Complete, Bad };

  // Appends received bytes; once Complete, later bytes are not part of this request.
  Status Feed(const char* data, size_t size);
  Status status() const { return status_; }
  // Valid once Complete (receivedAtMs and index are left for the caller).
  const RecordedRequest& request() const { return request_; }
  // Why the request was refused, once Bad.
  const std::string& error() const { return error_; }

  static constexpr size_t kMaxHeadBytes = 64 * 1024;
  static constexpr size_t kMaxBodyBytes = 64 * 1024 * 1024;

 private:
  Status ParseHead(size_t headEnd, size_t bodyStart);
  Status Fail(const char* why);

  Status status_ = Status::NeedMore;
  std::string buffer_;
  bool headParsed_ = false;
  size_t bodyStart_ = 0;
  size_t contentLength_ = 0;
  RecordedRequest request_;
  std::string error_;
};

}  // namespace gateway
