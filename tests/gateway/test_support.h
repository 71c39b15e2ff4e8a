#pragma once
// What the server tests share: raw HTTP on loopback, a gateway running in this process (its log
// kept in a file), the gateway program as a child process, and waiting for a call's state.
#include <netinet/in.h>
#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "gateway/config.h"
#include "gateway/event_log.h"
#include "gateway/service.h"
#include "tests/gateway/temp_dir.h"

namespace gwtest {

// 127.0.0.1:port.
sockaddr_in LoopbackAddress(int port);
// A TCP connection to 127.0.0.1:port from the local address `source` ("": the system's choice);
// -1 when it cannot be made.
int ConnectTo(int port, const std::string& source = "");
// Reads what comes on `fd` into `got` until the server closes it (true) or `timeoutMs` passes.
bool ReadUntilClosed(int fd, int timeoutMs, std::string& got);
// Sends `bytes` to 127.0.0.1:port and returns all that comes back until the server closes (or
// `timeoutMs` passes).
std::string Exchange(int port, const std::string& bytes, int timeoutMs = 10000);
// The same from the local address `source` (e.g. "127.0.0.2": all of 127/8 is this machine).
std::string ExchangeFrom(const std::string& source, int port, const std::string& bytes, int timeoutMs = 10000);
// A POST of `body` to the call path, as the agent sends it; returns the whole response.
std::string PostCall(int port, const std::string& body);
// A POST of `body` to the call path on the kept-alive connection `fd`; the body of the answer,
// read as far as its Content-Length, or "" when none came whole.
std::string KeepAlivePostCall(int fd, const std::string& body);
// The body of a response.
std::string BodyOf(const std::string& response);
// GET /calls/<id> as JSON (null when there is no such call).
nlohmann::json CallStatus(int port, long long id);
// Polls `done` every `everyMs` until it holds (true) or `timeoutMs` passes (false).
bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int everyMs = 20);
// Polls until the call is in `state` (or the time is up); returns the last status seen.
nlohmann::json WaitForState(int port, long long id, const std::string& state, int timeoutMs);
// A form body for `number` and `text` (the text %-escaped byte by byte).
std::string CallBody(const std::string& number, const std::string& text, bool selfDelete = true);

// A gateway in speaker mode on any free port, its store and its spoken calls in `dir`.
talmery::Config SpeakerConfig(const std::string& dir);

// The gateway in this process, on a free port; its log lines go to a file of the test folder.
class InProcessGateway {
 public:
  explicit InProcessGateway(talmery::Config config);
  ~InProcessGateway();
  bool Start(std::string& error);
  void Stop() { gateway_->Stop(0); }
  int Port() const { return gateway_->Port(); }
  int PlainPort() const { return gateway_->PlainPort(); }
  bool Reload(std::string& error) { return gateway_->Reload(error); }
  std::string LogText() const;
  // Waits until the log has a line with `text`: a state is stored before its line is written, so
  // a state seen over HTTP may still be on its way to the log.
  bool WaitForLog(const std::string& text, int timeoutMs) const;
  talmery::Config& config() { return config_; }

 private:
  talmery::Config config_;
  TempDir logDir_;
  FILE* logFile_ = nullptr;
  std::unique_ptr<talmery::EventLog> log_;
  std::unique_ptr<talmery::Gateway> gateway_;
};

// The talmery-gateway program as a child; its standard error goes to a file of its own.
class GatewayProcess {
 public:
  GatewayProcess(const std::string& configPath, const std::string& logPath);
  ~GatewayProcess();
  // Waits until the log shows the start (and the port it serves).
  bool WaitUntilServing(int timeoutMs);
  void Kill(int signal);
  // Waits for the exit; the exit status, or -1.
  int Wait(int timeoutMs);
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::string logPath_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

// A throwaway self-signed certificate made by openssl for 127.0.0.1 (or the host name `host`):
// <dir>/<name>.crt (for a tls_ca_file), .key, and .pem holding both (for a callee or our own).
bool MakeCertificate(const std::string& dir, const std::string& name, const std::string& host = "");

}  // namespace gwtest
