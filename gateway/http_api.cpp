#include "gateway/http_api.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "gateway/call_request.h"
#include "gateway/event_log.h"
#include "gateway/status_view.h"

namespace talmery {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIoSeconds = 5;          // one read or write
constexpr int kKeepAliveSeconds = 5;   // between two requests on one connection
constexpr int kKeepAliveRequests = 100;

// Set by the stream when a request ran out of time, read by the error handler on the same
// worker thread.
thread_local bool t_requestTimedOut = false;
// Set for every error answer: what follows on the connection (an unread body, say) cannot be
// trusted to start a request, so the connection ends.
thread_local bool t_closeAfter = false;

// A connection's stream: buffered reads that fail once the request's deadline has passed.
class DeadlineStream : public httplib::Stream {
 public:
  explicit DeadlineStream(int fd) : fd_(fd) {}
  void SetDeadline(Clock::time_point deadline) { deadline_ = deadline; }
  bool TimedOut() const { return timedOut_; }

  bool is_readable() const override { return pos_ < len_ || WaitFor(POLLIN, true); }
  bool is_writable() const override { return WaitFor(POLLOUT, false); }

  ssize_t read(char* ptr, size_t size) override {
    if (pos_ == len_) {
      if (!WaitFor(POLLIN, true)) return -1;
      ssize_t n;
      do n = recv(fd_, buffer_, sizeof buffer_, 0);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      pos_ = 0;
      len_ = static_cast<size_t>(n);
    }
    const size_t n = std::min(size, len_ - pos_);
    std::memcpy(ptr, buffer_ + pos_, n);
    pos_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!WaitFor(POLLOUT, false)) return -1;
    ssize_t n;
    do n = send(fd_, ptr, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Address(false, ip, port); }
  socket_t socket() const override { return fd_; }

 private:
  bool WaitFor(short events, bool reading) const {
    for (;;) {
      auto limit = Clock::now() + std::chrono::seconds(kIoSeconds);
      bool deadlineFirst = false;
      if (reading && deadline_ < limit) {
        limit = deadline_;
        deadlineFirst = true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - Clock::now()).count();
      pollfd p{fd_, events, 0};
      const int r = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
      if (r < 0 && errno == EINTR) continue;
      if (r == 0 && deadlineFirst) {
        timedOut_ = true;
        t_requestTimedOut = true;
      }
      return r > 0;
    }
  }

  void Address(bool remote, std::string& ip, int& port) const {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    const int r = remote ? getpeername(fd_, reinterpret_cast<sockaddr*>(&addr), &len)
                         : getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    char text[INET6_ADDRSTRLEN] = "";
    port = -1;
    if (r == 0 && addr.ss_family == AF_INET) {
      auto* a = reinterpret_cast<sockaddr_in*>(&addr);
      inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
      port = ntohs(a->sin_port);
    } else if (r == 0 && addr.ss_family == AF_INET6) {
      auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
      inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
      port = ntohs(a->sin6_port);
    }
    ip = text;
  }

  int fd_;
  Clock::time_point deadline_ = Clock::time_point::max();
  mutable bool timedOut_ = false;
  char buffer_[4096];
  size_t pos_ = 0, len_ = 0;
};

bool ReadableWithin(int fd, int seconds, const std::atomic<socket_t>& listening) {
  // In slices, so that a stopping server does not wait out an idle connection.
  for (int waited = 0; waited < seconds * 10; ++waited) {
    if (listening == INVALID_SOCKET) return false;
    pollfd p{fd, POLLIN, 0};
    const int r = poll(&p, 1, 100);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
  }
  return false;
}

}  // namespace

class HttpApi::Server : public httplib::Server {
 public:
  explicit Server(int requestSeconds) : requestSeconds_(requestSeconds) {}

 private:
  bool process_and_close_socket(socket_t sock) override {
    DeadlineStream stream(sock);
    for (int left = kKeepAliveRequests; left > 0; --left) {
      // A new connection has the request's time to begin; a kept-alive one a while longer.
      const int idle = left == kKeepAliveRequests ? std::min(requestSeconds_, kKeepAliveSeconds) : kKeepAliveSeconds;
      if (!ReadableWithin(sock, idle, svr_sock_)) break;
      t_requestTimedOut = false;
      t_closeAfter = false;
      stream.SetDeadline(Clock::now() + std::chrono::seconds(requestSeconds_));
      bool closed = false;
      const bool ok = process_request(stream, left == 1, closed, nullptr);
      if (!ok && stream.TimedOut()) {
        // The head never arrived whole: say so, then drop the connection.
        static const char kTimeout[] =
            "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\nContent-Type: text/plain\r\n"
            "Content-Length: 32\r\n\r\nERROR: the request took too long";
        stream.write(kTimeout, sizeof kTimeout - 1);
      }
      if (!ok || closed || stream.TimedOut() || t_closeAfter) break;
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return true;
  }

  int requestSeconds_;
};

HttpApi::HttpApi(const Config& config, CallStore& store, EventLog& log, std::function<void()> wake)
    : config_(config), store_(store), log_(log), wake_(std::move(wake)), server_(std::make_unique<Server>(config.requestSeconds)) {
  Route();
}

HttpApi::~HttpApi() { Stop(); }

namespace {

void Answer(httplib::Response& res, int status, const std::string& body, const char* type = "text/plain") {
  res.status = status;
  res.set_content(body, type);
}

void Refuse(httplib::Response& res, const std::string& reason) { Answer(res, 200, "ERROR: " + reason + "\r\n"); }

bool IsCallPath(const std::string& path) { return path == kCallPath; }
bool IsCallStatusPath(const std::string& path) {
  if (path.compare(0, 7, "/calls/") != 0 || path.size() == 7) return false;
  return path.find_first_not_of("0123456789", 7) == std::string::npos;
}

}  // namespace

void HttpApi::Route() {
  Server& s = *server_;
  const int threads = config_.httpThreads;
  s.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
  s.set_read_timeout(kIoSeconds, 0);
  s.set_write_timeout(kIoSeconds, 0);
  s.set_keep_alive_timeout(kKeepAliveSeconds);
  s.set_payload_max_length(kMaxRequestBytes);
  s.set_tcp_nodelay(true);

  // Paths first, methods second: an unknown path is 404 whatever the method, a known path with
  // the wrong method 405 with the methods it takes. Either way the body is left unread, so the
  // connection closes (see the error handler).
  s.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    const bool head = req.method == "GET" || req.method == "HEAD";
    std::string allow;
    if (IsCallPath(req.path)) {
      if (req.method == "POST") return httplib::Server::HandlerResponse::Unhandled;
      allow = "POST";
    } else if (req.path == "/" || IsCallStatusPath(req.path)) {
      if (head) return httplib::Server::HandlerResponse::Unhandled;
      allow = "GET, HEAD";
    } else {
      Answer(res, 404, "not found\n");
      return httplib::Server::HandlerResponse::Handled;
    }
    res.set_header("Allow", allow);
    Answer(res, 405, "method not allowed\n");
    return httplib::Server::HandlerResponse::Handled;
  });

  // The agent shows a status of 300 or more as "gateway not started": a call request that is
  // refused for its size gets an ERROR line it can show instead.
  s.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request& req, httplib::Response& res) {
    t_closeAfter = true;
    res.set_header("Connection", "close");
    if (t_requestTimedOut) {
      res.status = 408;
      res.set_content("ERROR: the request took too long\r\n", "text/plain");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (res.status == 413 && IsCallPath(req.path)) {
      res.status = 200;
      res.set_content("ERROR: the request is larger than " + std::to_string(kMaxRequestBytes / 1024) + " KB\r\n",
                      "text/plain");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }));

  s.set_exception_handler([this](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    log_.Write("http", {{"error", "a handler failed"}});
    Answer(res, 500, "internal error\n");
  });

  s.Post(kCallPath, [this](const httplib::Request& req, httplib::Response& res) {
    const std::string remote = req.remote_addr;
    const std::string type = req.get_header_value("Content-Type");
    CallRequest call;
    std::string reason;
    if (!type.empty() && type.compare(0, 33, "application/x-www-form-urlencoded") != 0) {
      reason = "the request body must be a URL-encoded form";
    } else if (!ParseCallRequest(req.body, call, reason)) {
      // reason set
    } else {
      long long id = 0;
      std::string error;
      if (!store_.Accept(call, config_.attempts, NowMs(), id, error)) {
        log_.Write("store", {{"error", error}});
        Refuse(res, "the call could not be stored: " + error);
        return;
      }
      log_.Write("state", {{"call", std::to_string(id)}, {"state", state::kQueued}, {"number", MaskNumber(call.number)},
                           {"firstocc", std::to_string(call.firstOcc)}, {"selfdelete", call.selfDelete ? "1" : "0"},
                           {"from", remote}});
      if (wake_) wake_();
      Answer(res, 200, "[" + std::to_string(id) + "]\r\n");
      return;
    }
    log_.Write("refused", {{"from", remote}, {"reason", reason}});
    Refuse(res, reason);
  });

  s.Get("/", [this](const httplib::Request&, httplib::Response& res) {
    ViewOptions view;
    view.showText = config_.showText;
    view.refreshSeconds = config_.pageRefresh;
    view.mode = config_.mode == DialMode::Sip ? "SIP" : "speaker";
    res.set_header("Cache-Control", "no-store");
    Answer(res, 200, StatusPage(store_.Recent(config_.pageCalls), view, NowMs()), "text/html; charset=utf-8");
  });

  s.Get(R"(/calls/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
    const std::string digits = req.matches[1];
    CallRecord call;
    res.set_header("Cache-Control", "no-store");
    if (digits.size() > 18 || !store_.Get(std::stoll(digits), call)) {
      Answer(res, 404, "{\"error\": \"no such call\"}\n", "application/json");
      return;
    }
    ViewOptions view;
    view.showText = config_.showText;
    Answer(res, 200, CallJson(call, view), "application/json");
  });
}

bool HttpApi::Bind(std::string& error) {
  if (config_.listenPort == 0) {
    port_ = server_->bind_to_any_port(config_.listenHost);
    if (port_ <= 0) {
      error = "cannot listen on " + config_.listenHost;
      return false;
    }
    return true;
  }
  if (!server_->bind_to_port(config_.listenHost, config_.listenPort)) {
    error = "cannot listen on " + config_.listenHost + ":" + std::to_string(config_.listenPort) +
            " (in use, or not an address of this machine)";
    return false;
  }
  port_ = config_.listenPort;
  return true;
}

void HttpApi::Serve() { server_->listen_after_bind(); }

void HttpApi::Stop() {
  if (server_) server_->stop();
}

}  // namespace talmery
