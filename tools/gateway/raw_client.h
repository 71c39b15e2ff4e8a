#pragma once
// A byte-exact TCP client for tests: sends hand-written requests in chosen segments and reports
// how the server ended the connection.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace gateway {

class RawClient {
 public:
  RawClient();
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connect(uint16_t port, uint32_t address = 0x7F000001);  // to 127.0.0.1 (host byte order)
  bool Send(const std::string& bytes);

  struct Received {
    std::string bytes;
    bool closed = false;    // orderly close (FIN) after the bytes
    bool reset = false;     // the connection ended with an error (RST)
    bool timedOut = false;  // still open when the time was up
  };
  // Reads until the server ends the connection or timeoutMs passes.
  Received ReadToEnd(int timeoutMs);
  // Reads until at least n bytes arrived in all (from the start of the connection), the
  // connection ends or timeoutMs passes; returns everything received so far.
  std::string ReadAtLeast(size_t n, int timeoutMs);
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Connects, sends the request in one piece and returns everything until the server closes.
RawClient::Received Exchange(uint16_t port, const std::string& request, int timeoutMs = 5000,
                             uint32_t address = 0x7F000001);

}  // namespace gateway
