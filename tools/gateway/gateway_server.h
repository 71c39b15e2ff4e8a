#pragma once
// The stand-in Talmery Gateway: a real HTTP/1.1 server on 127.0.0.1 that records every request
// byte for byte and answers as a test tells it (status, body, delays, broken connections).
// One thread per connection; each connection carries one request and is closed after the answer.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace gateway {

// Milliseconds of a monotonic clock; the same clock as RecordedRequest::receivedAtMs.
long long MonotonicMs();

struct RecordedRequest {
  std::string method, target, version;                       // request line parts
  std::vector<std::pair<std::string, std::string>> headers;  // in arrival order, as sent
  std::string body;                                          // exactly Content-Length bytes
  std::string raw;                                           // every byte received for this request
  std::string Header(const std::string& name) const;         // case-insensitive, "" if absent
  bool HasHeader(const std::string& name) const;
  long long receivedAtMs = 0;                                // MonotonicMs() when complete
  size_t index = 0;                                          // 0 for the first request, 1, ...
};

struct Answer {
  int status = 200;
  std::string reason = "OK";
  std::string body = "[1]";  // ignored when autoId is true
  bool autoId = false;       // answer "[<n>]" with a running number starting at 1
  int delayMs = 0;           // wait before sending anything
  enum class Mode {
    Normal,
    CloseWithoutAnswer,  // read the request, then close without sending a byte
    ResetMidBody,        // send the head and half the body, then reset the connection
    Trickle,             // send the head, then one body byte per trickleDelayMs
    NeverAnswer,         // keep the connection open and silent until Stop()
    // Hostile gateways: each keeps sending until the client goes, Stop() or streamBytes.
    HeaderTrickle,  // the status line, then one byte of a header per trickleDelayMs, never ending
    EndlessChunks,  // a chunked body: `body` as the first chunk, then filler chunks without end
    HugeHeaders     // the status line, then filler header lines, made as they are sent, then `body`
  } mode = Mode::Normal;
  int trickleDelayMs = 50;    // Trickle, HeaderTrickle: one byte per this many ms
  bool announceLength = true; // send Content-Length (else the body ends when the connection closes)
  std::string location = std::string();  // sent as a Location header when not empty (redirects)
  unsigned long long streamBytes = 0;  // hostile modes: stop after about this many bytes (0: never)
};

class Server {
 public:
  Server();
  ~Server();  // stops it
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  bool Start(uint16_t port = 0);  // binds 127.0.0.1; 0 = ephemeral
  uint16_t Port() const;
  void Stop();                    // never hangs, even with NeverAnswer connections open

  void SetAnswer(const Answer& a);                 // for every following request
  void QueueAnswers(std::vector<Answer> answers);  // used one per request before the default
  // Decides the answer itself (after the queue is empty, instead of the default); null removes it.
  void SetResponder(std::function<Answer(const RecordedRequest&)> responder);
  void SetNextAutoId(long long id);                // next number an autoId answer uses

  std::vector<RecordedRequest> Requests() const;
  size_t RequestCount() const;
  bool WaitForRequests(size_t n, int timeoutMs) const;
  // Called on the server thread of the connection, after recording and before answering.
  // Calls are serialised: two connections never run it at the same time.
  void OnRequest(std::function<void(const RecordedRequest&)> callback);

  // Connections accepted so far, including those that never completed a request.
  size_t ConnectionCount() const;
  // Requests whose answer has been sent out completely (or broken off as its mode says).
  size_t AnsweredCount() const;
  bool WaitForAnswered(size_t n, int timeoutMs) const;
  // Discards the recorded requests (the answer settings stay).
  void ClearRequests();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace gateway
