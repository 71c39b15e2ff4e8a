#pragma once
// The HTTP side: call requests exactly as the agent posts them, the status page and the JSON of
// one call. Built on libmicrohttpd in its epoll mode: a few threads serve every connection, so
// that slow or idle clients cost a socket each and hold up nobody. Each request (head and body)
// must arrive whole within request_seconds; bodies are bounded while they are read. With
// tls_certificate and tls_key, `listen` is HTTPS (and listen_plain, if set, a listener in clear
// beside it); every listener goes through the same checks.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gateway/clock.h"
#include "gateway/config.h"
#include "gateway/open_files.h"
#include "gateway/store.h"

namespace talmery {

class Dispatcher;
class EventLog;

constexpr char kCallPath[] = "/ocall/callreqHandler.jsp";
constexpr size_t kMaxRequestBytes = 256 * 1024;  // a 64 KB text, every byte %-escaped, and more

class HttpApi {
 public:
  // `wake` runs after each accepted call (the dispatcher's Wake). The limits' windows are
  // measured on `clock`'s ticks.
  HttpApi(const Config& config, CallStore& store, EventLog& log, std::function<void()> wake,
          const GatewayClock& clock = SystemClock());
  ~HttpApi();
  HttpApi(const HttpApi&) = delete;
  HttpApi& operator=(const HttpApi&) = delete;

  // Binds the configured addresses (port 0: any free port) and serves at most `connections` at
  // once over all of them (OpenFiles' share); false with a reason.
  bool Bind(std::string& error, unsigned connections = kMaxHttpConnections);
  int Port() const { return port_; }
  int PlainPort() const { return plainPort_; }  // listen_plain's; 0 without it
  // Takes the certificate and key files afresh: new connections get them, those open finish on
  // the old ones. False with a reason, and the old ones still served, when the files are bad.
  bool Reload(std::string& error);
  // Serves until Stop (from another thread or a signal handler's thread).
  void Serve();
  void Stop();

 private:
  class Server;
  std::unique_ptr<Server> server_;
  int port_ = 0;
  int plainPort_ = 0;
};

}  // namespace talmery
