#include "tools/gateway/socket.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstring>

namespace gateway {

#ifdef _WIN32
NetworkInit::NetworkInit() {
  WSADATA data;
  ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
NetworkInit::~NetworkInit() {
  if (ok_) WSACleanup();
}
void Socket::reset(NativeSocket s) {
  NativeSocket old = std::exchange(s_, s);
  if (old != kNoSocket) closesocket(old);
}
#else
NetworkInit::NetworkInit() : ok_(true) {}
NetworkInit::~NetworkInit() = default;
void Socket::reset(NativeSocket s) {
  NativeSocket old = std::exchange(s_, s);
  if (old != kNoSocket) close(old);
}
#endif

namespace {

WaitResult WaitFor(NativeSocket s, short events, int timeoutMs) {
#ifdef _WIN32
  WSAPOLLFD p{};
  p.fd = s;
  p.events = events;
  int n = WSAPoll(&p, 1, timeoutMs);
#else
  pollfd p{};
  p.fd = s;
  p.events = events;
  int n;
  do {
    n = poll(&p, 1, timeoutMs);
  } while (n < 0 && errno == EINTR);
#endif
  if (n < 0) return WaitResult::Failed;
  if (n == 0) return WaitResult::Timeout;
  // Errors and hang-ups count as ready: the following recv/send reports them.
  return WaitResult::Ready;
}

}  // namespace

WaitResult WaitReadable(NativeSocket s, int timeoutMs) { return WaitFor(s, POLLIN, timeoutMs); }
WaitResult WaitWritable(NativeSocket s, int timeoutMs) { return WaitFor(s, POLLOUT, timeoutMs); }

long RecvSome(NativeSocket s, char* buffer, size_t size) {
#ifdef _WIN32
  int n = recv(s, buffer, static_cast<int>(size), 0);
  return n == SOCKET_ERROR ? -1 : n;
#else
  ssize_t n;
  do {
    n = recv(s, buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<long>(n);
#endif
}

long SendSome(NativeSocket s, const char* data, size_t size) {
#ifdef _WIN32
  int n = send(s, data, static_cast<int>(size), 0);
  return n == SOCKET_ERROR ? -1 : n;
#else
  ssize_t n;
  do {
    n = send(s, data, size, MSG_NOSIGNAL);  // a vanished peer must not raise SIGPIPE
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<long>(n);
#endif
}

void ShutdownBoth(NativeSocket s) {
#ifdef _WIN32
  shutdown(s, SD_BOTH);
#else
  shutdown(s, SHUT_RDWR);
#endif
}

void SetResetOnClose(NativeSocket s) {
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
}

namespace {
sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}
}  // namespace

Socket ListenLoopback(uint16_t port) {
  Socket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!s) return s;
#ifndef _WIN32
  // A fixed port must be reusable right after an earlier run's connections sit in TIME_WAIT.
  // (On Windows SO_REUSEADDR would let two servers share the port, so it stays off there.)
  int on = 1;
  setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
  sockaddr_in a = LoopbackAddress(port);
  if (bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return Socket();
  if (listen(s.get(), 64) != 0) return Socket();
  return s;
}

uint16_t LocalPort(NativeSocket s) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

Socket ConnectLoopback(uint16_t port, uint32_t address) {
  Socket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!s) return s;
  sockaddr_in a = LoopbackAddress(port);
  a.sin_addr.s_addr = htonl(address);
  if (connect(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return Socket();
  return s;
}

}  // namespace gateway
