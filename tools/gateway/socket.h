#pragma once
// A thin portable layer over Winsock2 and BSD sockets: an owning socket and the few calls the
// gateway needs. Internal to the gateway (it pulls in the platform's socket headers).
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#endif

#include <cstddef>
#include <cstdint>
#include <utility>

namespace gateway {

#ifdef _WIN32
using NativeSocket = SOCKET;
inline const NativeSocket kNoSocket = INVALID_SOCKET;
#else
using NativeSocket = int;
inline const NativeSocket kNoSocket = -1;
#endif

// Winsock needs WSAStartup before any socket call; BSD sockets need nothing.
class NetworkInit {
 public:
  NetworkInit();
  ~NetworkInit();
  NetworkInit(const NetworkInit&) = delete;
  NetworkInit& operator=(const NetworkInit&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// Owns one socket and closes it exactly once.
class Socket {
 public:
  Socket() = default;
  explicit Socket(NativeSocket s) : s_(s) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept : s_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Socket() { reset(); }

  NativeSocket get() const { return s_; }
  explicit operator bool() const { return s_ != kNoSocket; }
  NativeSocket release() { return std::exchange(s_, kNoSocket); }
  void reset(NativeSocket s = kNoSocket);

 private:
  NativeSocket s_ = kNoSocket;
};

enum class WaitResult { Ready, Timeout, Failed };
WaitResult WaitReadable(NativeSocket s, int timeoutMs);
WaitResult WaitWritable(NativeSocket s, int timeoutMs);

// One recv/send; returns the byte count, 0 for an orderly close (recv), -1 for an error.
long RecvSome(NativeSocket s, char* buffer, size_t size);
long SendSome(NativeSocket s, const char* data, size_t size);

// Ends both directions; wakes a peer waiting for data. Safe on a socket another thread reads.
void ShutdownBoth(NativeSocket s);
// Makes the next close send RST instead of FIN.
void SetResetOnClose(NativeSocket s);

// A TCP socket listening on 127.0.0.1:port (0 = ephemeral); empty on failure.
Socket ListenLoopback(uint16_t port);
uint16_t LocalPort(NativeSocket s);
// A TCP connection to 127.0.0.1:port (or another address, in host byte order); empty on failure.
Socket ConnectLoopback(uint16_t port, uint32_t address = 0x7F000001);

}  // namespace gateway
