#pragma once
// The HTTP side: call requests exactly as the agent posts them, the status page and the JSON of
// one call. Built on cpp-httplib, with each connection read through a stream that bounds a whole
// request (head and body) in time, so that a slow client holds a worker for seconds, not forever.
#include <functional>
#include <memory>
#include <string>

#include "gateway/config.h"
#include "gateway/store.h"

namespace talmery {

class Dispatcher;
class EventLog;

constexpr char kCallPath[] = "/ocall/callreqHandler.jsp";
constexpr size_t kMaxRequestBytes = 256 * 1024;  // a 64 KB text, every byte %-escaped, and more

class HttpApi {
 public:
  // `wake` runs after each accepted call (the dispatcher's Wake).
  HttpApi(const Config& config, CallStore& store, EventLog& log, std::function<void()> wake);
  ~HttpApi();
  HttpApi(const HttpApi&) = delete;
  HttpApi& operator=(const HttpApi&) = delete;

  // Binds the configured address (port 0: any free port); false with a reason.
  bool Bind(std::string& error);
  int Port() const { return port_; }
  // Serves until Stop (from another thread or a signal handler's thread).
  void Serve();
  void Stop();

 private:
  class Server;
  void Route();
  const Config& config_;
  CallStore& store_;
  EventLog& log_;
  std::function<void()> wake_;
  std::unique_ptr<Server> server_;
  int port_ = 0;
};

}  // namespace talmery
