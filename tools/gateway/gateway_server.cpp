#include "tools/gateway/gateway_server.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

#include "tools/gateway/request_parser.h"
#include "tools/gateway/response.h"
#include "tools/gateway/socket.h"

namespace gateway {

long long MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

namespace {
// How often blocked waits look at the stop flag; bounds how long Stop() takes.
constexpr int kPollMs = 20;
}  // namespace

struct Server::State {
  NetworkInit net;

  mutable std::mutex mu;
  mutable std::condition_variable changed;  // new request recorded, or stopping
  bool running = false;
  bool stopping = false;
  Answer defaultAnswer;
  std::deque<Answer> queued;
  std::function<Answer(const RecordedRequest&)> responder;
  long long nextAutoId = 1;
  std::vector<RecordedRequest> requests;
  size_t connections = 0;
  size_t answered = 0;  // requests whose answer (whatever its mode) has been acted out

  std::mutex callbackMu;  // serialises OnRequest callbacks; never held with mu
  std::function<void(const RecordedRequest&)> callback;

  Socket listener;
  uint16_t port = 0;
  std::thread acceptThread;

  struct Connection {
    NativeSocket socket = kNoSocket;  // guarded by mu; kNoSocket once the thread closed it
    std::thread thread;
    std::atomic<bool> done{false};
  };
  std::list<std::shared_ptr<Connection>> live;  // guarded by mu

  bool Stopping() {
    std::lock_guard<std::mutex> lock(mu);
    return stopping;
  }
  // Waits ms milliseconds; false when Stop() interrupted the wait.
  bool Pause(int ms) {
    std::unique_lock<std::mutex> lock(mu);
    return !changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping; });
  }

  void AcceptLoop();
  void ReapFinished();
  void Serve(Connection* c, Socket s);
  bool SendAll(NativeSocket s, const char* data, size_t size);
  Answer ChooseAnswer(const RecordedRequest& r, bool fromQueue, Answer queuedAnswer);
  // Sends the answer; true when the connection should end with an orderly close.
  bool Act(Socket& s, const Answer& a);
  void FinishGracefully(Socket& s);
};

Server::Server() : state_(std::make_shared<State>()) {}
Server::~Server() { Stop(); }

bool Server::Start(uint16_t port) {
  State& st = *state_;
  std::lock_guard<std::mutex> lock(st.mu);
  if (st.running || !st.net.ok()) return false;
  Socket listener = ListenLoopback(port);
  if (!listener) return false;
  st.port = LocalPort(listener.get());
  st.listener = std::move(listener);
  st.stopping = false;
  st.running = true;
  st.acceptThread = std::thread([&st] { st.AcceptLoop(); });
  return true;
}

uint16_t Server::Port() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->port;
}

void Server::Stop() {
  State& st = *state_;
  {
    std::lock_guard<std::mutex> lock(st.mu);
    if (!st.running) return;
    st.stopping = true;
    // Wakes connection threads blocked in recv/send at once; they close their own sockets.
    for (auto& c : st.live)
      if (c->socket != kNoSocket) ShutdownBoth(c->socket);
  }
  st.changed.notify_all();
  st.acceptThread.join();  // it polls the stop flag every kPollMs
  std::list<std::shared_ptr<State::Connection>> all;
  {
    std::lock_guard<std::mutex> lock(st.mu);
    all.swap(st.live);
  }
  for (auto& c : all) c->thread.join();
  std::lock_guard<std::mutex> lock(st.mu);
  st.listener.reset();
  st.running = false;
}

void Server::SetAnswer(const Answer& a) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->defaultAnswer = a;
}

void Server::QueueAnswers(std::vector<Answer> answers) {
  std::lock_guard<std::mutex> lock(state_->mu);
  for (auto& a : answers) state_->queued.push_back(std::move(a));
}

void Server::SetResponder(std::function<Answer(const RecordedRequest&)> responder) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->responder = std::move(responder);
}

void Server::SetNextAutoId(long long id) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->nextAutoId = id;
}

std::vector<RecordedRequest> Server::Requests() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->requests;
}

size_t Server::RequestCount() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->requests.size();
}

bool Server::WaitForRequests(size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(state_->mu);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                                  [&] { return state_->requests.size() >= n; });
}

void Server::OnRequest(std::function<void(const RecordedRequest&)> callback) {
  std::lock_guard<std::mutex> lock(state_->callbackMu);
  state_->callback = std::move(callback);
}

size_t Server::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->connections;
}

size_t Server::AnsweredCount() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->answered;
}

bool Server::WaitForAnswered(size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(state_->mu);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                                  [&] { return state_->answered >= n; });
}

void Server::ClearRequests() {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->requests.clear();
}

void Server::State::AcceptLoop() {
  for (;;) {
    if (Stopping()) return;
    if (WaitReadable(listener.get(), kPollMs) != WaitResult::Ready) continue;
    Socket s(accept(listener.get(), nullptr, nullptr));
    if (!s) continue;
    ReapFinished();
    std::lock_guard<std::mutex> lock(mu);
    if (stopping) return;  // s closes unanswered
    ++connections;
    auto c = std::make_shared<Connection>();
    c->socket = s.get();
    Connection* raw = c.get();
    c->thread = std::thread([this, raw, sock = std::move(s)]() mutable { Serve(raw, std::move(sock)); });
    live.push_back(std::move(c));
  }
}

// A long-running gateway must not collect one finished thread per request.
void Server::State::ReapFinished() {
  std::list<std::shared_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> lock(mu);
    for (auto it = live.begin(); it != live.end();) {
      if ((*it)->done) {
        finished.push_back(*it);
        it = live.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) c->thread.join();
}

bool Server::State::SendAll(NativeSocket s, const char* data, size_t size) {
  while (size > 0) {
    WaitResult w = WaitWritable(s, kPollMs);
    if (Stopping()) return false;
    if (w == WaitResult::Failed) return false;
    if (w == WaitResult::Timeout) continue;
    long n = SendSome(s, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void Server::State::Serve(Connection* c, Socket s) {
  RequestParser parser;
  char buffer[4096];
  while (parser.status() == RequestParser::Status::NeedMore) {
    WaitResult w = WaitReadable(s.get(), kPollMs);
    if (Stopping() || w == WaitResult::Failed) break;
    if (w == WaitResult::Timeout) continue;
    long n = RecvSome(s.get(), buffer, sizeof buffer);
    if (n <= 0) break;  // peer gave up before the request was complete: nothing to record
    parser.Feed(buffer, static_cast<size_t>(n));
  }

  if (parser.status() == RequestParser::Status::Bad) {
    Answer bad;
    bad.status = 400;
    bad.reason = "Bad Request";
    bad.body = parser.error();
    if (Act(s, bad)) FinishGracefully(s);
  } else if (parser.status() == RequestParser::Status::Complete) {
    RecordedRequest r = parser.request();
    r.receivedAtMs = MonotonicMs();
    bool fromQueue = false;
    Answer queuedAnswer;
    {
      std::lock_guard<std::mutex> lock(mu);
      r.index = requests.size();
      requests.push_back(r);
      // Queued answers go to requests in the order they were completed.
      if (!queued.empty()) {
        fromQueue = true;
        queuedAnswer = std::move(queued.front());
        queued.pop_front();
      }
    }
    changed.notify_all();
    {
      std::lock_guard<std::mutex> lock(callbackMu);
      if (callback) callback(r);
    }
    bool graceful = Act(s, ChooseAnswer(r, fromQueue, std::move(queuedAnswer)));
    {
      std::lock_guard<std::mutex> lock(mu);
      ++answered;
    }
    changed.notify_all();
    if (graceful) FinishGracefully(s);
  }

  {
    std::lock_guard<std::mutex> lock(mu);
    c->socket = kNoSocket;  // Stop() must not touch the descriptor once it may be reused
  }
  s.reset();
  c->done = true;
}

Answer Server::State::ChooseAnswer(const RecordedRequest& r, bool fromQueue, Answer queuedAnswer) {
  Answer a;
  if (fromQueue) {
    a = std::move(queuedAnswer);
  } else {
    std::function<Answer(const RecordedRequest&)> decide;
    {
      std::lock_guard<std::mutex> lock(mu);
      decide = responder;
      a = defaultAnswer;
    }
    if (decide) a = decide(r);
  }
  if (a.autoId) {
    std::lock_guard<std::mutex> lock(mu);
    a.body = "[" + std::to_string(nextAutoId++) + "]";
  }
  return a;
}

bool Server::State::Act(Socket& s, const Answer& a) {
  if (a.delayMs > 0 && !Pause(a.delayMs)) return false;
  std::string head = ResponseHead(a, a.body.size());
  switch (a.mode) {
    case Answer::Mode::Normal: {
      std::string all = head + a.body;
      if (!SendAll(s.get(), all.data(), all.size())) return false;
      break;
    }
    case Answer::Mode::CloseWithoutAnswer:
      break;
    case Answer::Mode::ResetMidBody: {
      std::string part = head + a.body.substr(0, a.body.size() / 2);
      if (!SendAll(s.get(), part.data(), part.size())) return false;
      // Let the client take the head as a complete answer start before the reset arrives.
      if (!Pause(100)) return false;
      SetResetOnClose(s.get());
      return false;  // the caller's close now sends RST
    }
    case Answer::Mode::Trickle: {
      if (!SendAll(s.get(), head.data(), head.size())) return false;
      for (size_t i = 0; i < a.body.size(); ++i) {
        if (!Pause(a.trickleDelayMs)) return false;
        if (!SendAll(s.get(), a.body.data() + i, 1)) return false;
      }
      break;
    }
    case Answer::Mode::HeaderTrickle: {
      const std::string start = "HTTP/1.1 " + std::to_string(a.status) + " " + a.reason + "\r\nX-Trickle: ";
      if (!SendAll(s.get(), start.data(), start.size())) return false;
      for (unsigned long long sent = 0; a.streamBytes == 0 || sent < a.streamBytes; ++sent) {
        if (!Pause(a.trickleDelayMs) || !SendAll(s.get(), "x", 1)) return false;
      }
      return false;
    }
    case Answer::Mode::EndlessChunks: {
      char size[32];
      std::snprintf(size, sizeof size, "%zx\r\n", a.body.size());
      const std::string start = "HTTP/1.1 " + std::to_string(a.status) + " " + a.reason +
                                "\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n" + size +
                                a.body + "\r\n";
      if (!SendAll(s.get(), start.data(), start.size())) return false;
      const std::string chunk = "400\r\n" + std::string(0x400, 'x') + "\r\n";
      for (unsigned long long sent = 0; a.streamBytes == 0 || sent < a.streamBytes; sent += chunk.size()) {
        if (!SendAll(s.get(), chunk.data(), chunk.size())) return false;
      }
      return false;
    }
    case Answer::Mode::HugeHeaders: {
      const std::string start = "HTTP/1.1 " + std::to_string(a.status) + " " + a.reason + "\r\n";
      if (!SendAll(s.get(), start.data(), start.size())) return false;
      // 64 filler lines of 1 KB each, sent again and again: nothing grows with the total.
      std::string block;
      for (int i = 0; i < 64; ++i) block += "X-Filler: " + std::string(1012, 'h') + "\r\n";
      for (unsigned long long sent = 0; a.streamBytes == 0 || sent < a.streamBytes; sent += block.size()) {
        if (!SendAll(s.get(), block.data(), block.size())) return false;
      }
      const std::string end = "Content-Length: " + std::to_string(a.body.size()) + "\r\n\r\n" + a.body;
      if (!SendAll(s.get(), end.data(), end.size())) return false;
      break;
    }
    case Answer::Mode::NeverAnswer: {
      // Silent until Stop() or until the client gives up (recv sees its close or an error).
      char sink[512];
      for (;;) {
        WaitResult w = WaitReadable(s.get(), kPollMs);
        if (Stopping() || w == WaitResult::Failed) return false;
        if (w == WaitResult::Ready && RecvSome(s.get(), sink, sizeof sink) <= 0) return false;
      }
    }
  }
  return true;
}

void Server::State::FinishGracefully(Socket& s) {
  // Orderly end: FIN after the last byte, so a close-delimited body ends cleanly.
#ifdef _WIN32
  shutdown(s.get(), SD_SEND);
#else
  shutdown(s.get(), SHUT_WR);
#endif
  // Drain what the client still sends (if anything) briefly, so closing does not turn into a
  // reset that could destroy the answer in the client's receive buffer.
  char sink[512];
  for (int i = 0; i < 25 && !Stopping(); ++i) {
    WaitResult w = WaitReadable(s.get(), kPollMs);
    if (w == WaitResult::Timeout) continue;
    if (w == WaitResult::Failed || RecvSome(s.get(), sink, sizeof sink) <= 0) break;
  }
}

}  // namespace gateway
