#include "tools/gateway/raw_client.h"

#include <chrono>

#include "tools/gateway/gateway_server.h"
#include "tools/gateway/socket.h"

namespace gateway {

struct RawClient::Impl {
  NetworkInit net;
  Socket socket;
  std::string received;
  bool ended = false, reset = false;

  // One wait-and-read step; false once the connection ended.
  bool Pump(int waitMs) {
    if (ended) return false;
    WaitResult w = WaitReadable(socket.get(), waitMs);
    if (w == WaitResult::Timeout) return true;
    char buffer[4096];
    long n = w == WaitResult::Failed ? -1 : RecvSome(socket.get(), buffer, sizeof buffer);
    if (n > 0) {
      received.append(buffer, static_cast<size_t>(n));
      return true;
    }
    ended = true;
    reset = n < 0;
    return false;
  }
};

RawClient::RawClient() : impl_(std::make_unique<Impl>()) {}
RawClient::~RawClient() = default;

bool RawClient::Connect(uint16_t port, uint32_t address) {
  impl_->socket = ConnectLoopback(port, address);
  impl_->received.clear();
  impl_->ended = impl_->reset = false;
  return static_cast<bool>(impl_->socket);
}

bool RawClient::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    long n = SendSome(impl_->socket.get(), bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

RawClient::Received RawClient::ReadToEnd(int timeoutMs) {
  long long deadline = MonotonicMs() + timeoutMs;
  for (;;) {
    long long left = deadline - MonotonicMs();
    if (left <= 0 || !impl_->Pump(static_cast<int>(left))) break;
  }
  Received r;
  r.bytes = impl_->received;
  r.closed = impl_->ended && !impl_->reset;
  r.reset = impl_->reset;
  r.timedOut = !impl_->ended;
  return r;
}

std::string RawClient::ReadAtLeast(size_t n, int timeoutMs) {
  long long deadline = MonotonicMs() + timeoutMs;
  while (impl_->received.size() < n) {
    long long left = deadline - MonotonicMs();
    if (left <= 0 || !impl_->Pump(static_cast<int>(left))) break;
  }
  return impl_->received;
}

void RawClient::Close() { impl_->socket.reset(); }

RawClient::Received Exchange(uint16_t port, const std::string& request, int timeoutMs, uint32_t address) {
  RawClient c;
  if (!c.Connect(port, address) || !c.Send(request)) {
    RawClient::Received r;
    r.reset = true;
    return r;
  }
  return c.ReadToEnd(timeoutMs);
}

}  // namespace gateway
