// The gateway exchange over Windows Sockets. The exchange runs on a worker thread that owns its
// connection; the calling thread waits for it with one overall deadline, serving incoming COM
// calls meanwhile. At the deadline the caller shuts the connection down and leaves: from then on
// the worker touches nothing but the state it shares with the caller, and ends by itself.
#include "agent/calls/gateway_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

#include "agent/calls/http_wire.h"
#include "agent/calls/tls_channel.h"
#include "common/wide_text.h"
#include "common/win/handles.h"
#include "common/win/socket.h"
#include "common/win/sync.h"
#include "agent/framework/ole/ole.h"
#include "agent/framework/ole/ole_text.h"

const char kGatewayBadHostText[] = "The Talmery Gateway's host name is empty or not a valid name.";
const char kGatewayUnresolvedText[] = "The Talmery Gateway's host name could not be resolved.";
const char kGatewayCannotConnectText[] = "The attempt to connect to the Talmery Gateway failed.";
const char kGatewayTimedOutText[] = "The Talmery Gateway did not answer within 30 seconds.";
const char kGatewayBrokenText[] = "The connection to the Talmery Gateway was broken off.";
const char kGatewaySetupFailedText[] = "The connection to the Talmery Gateway could not be set up.";

namespace {

static_assert(kGatewayDeadlineMs == 30000, "the time-out text names the deadline");

using win::Socket;

enum class Stage { Resolving, Connecting, Exchanging };

// What the worker and the waiting caller share; each holds a reference, so it lives as long as
// the one that stays longer.
struct Exchange {
  // Set before the worker starts, read-only afterwards.
  WideText host;  // the name to resolve (and, over HTTPS, to find in the certificate)
  bool https = false;
  uint16_t port = 0;
  std::string request;
  size_t maxBody = HttpAnswerReader::kMaxBodyBytes;
  ULONGLONG deadline = 0;  // GetTickCount64
  win::KernelHandle done;   // set by the worker as its last act

  win::SrwLock mu;
  SOCKET connection = INVALID_SOCKET;  // the worker's socket while it is open, for the shut-down
  bool abandoned = false;              // the caller has left
  Stage stage = Stage::Resolving;      // how far the worker came: what a deadline cut short
  // The outcome, valid once done is set.
  std::string failure;  // empty: an answer was read
  int status = 0;
  std::string body;
  std::string callToken;
};

// Milliseconds left until the deadline; 0 once it has passed.
DWORD TimeLeft(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// Waits for a non-blocking connect to end (true) or the deadline to pass. A failed connect shows
// in the exception set.
bool WaitForConnect(SOCKET s, ULONGLONG deadline) {
  const DWORD left = TimeLeft(deadline);
  timeval limit{};
  limit.tv_sec = static_cast<long>(left / 1000);
  limit.tv_usec = static_cast<long>(left % 1000 * 1000);
  fd_set written, failed;
  FD_ZERO(&written);
  FD_ZERO(&failed);
  FD_SET(s, &written);
  FD_SET(s, &failed);
  return select(0, nullptr, &written, &failed, &limit) > 0;
}

// Bounds the next blocking send or recv by the time left; false once none is left.
bool LimitTo(SOCKET s, int option, ULONGLONG deadline) {
  const DWORD left = TimeLeft(deadline);  // 0 would mean no limit at all
  return left > 0 && setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&left), sizeof left) == 0;
}

class Worker {
 public:
  explicit Worker(Exchange& x) : x_(x) {}

  void Run() {
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return Finish(kGatewaySetupFailedText);
    std::string failure = Talk();
    WSACleanup();
    Finish(failure);
  }

 private:
  // The whole exchange; the failure text, or empty with the answer in status_ and body_.
  std::string Talk() {
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* found = nullptr;
    const std::string port = std::to_string(x_.port);
    const WideText service(port.begin(), port.end());
    if (GetAddrInfoW(x_.host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
      return kGatewayUnresolvedText;
    }
    const std::unique_ptr<ADDRINFOW, decltype(&FreeAddrInfoW)> addresses(found, &FreeAddrInfoW);
    if (!Advance(Stage::Connecting)) return kGatewayTimedOutText;
    // One address after the other, in the resolver's order, each with its own limit: the request
    // is sent on the first connection made, so trying the next address never doubles a call.
    Socket s;
    bool anySocket = false;  // an address of a family this system has no sockets for is skipped
    for (const ADDRINFOW* a = addresses.get(); a && !s && TimeLeft(x_.deadline) > 0 && !Abandoned(); a = a->ai_next) {
      const ULONGLONG limit = a->ai_next ? std::min(GetTickCount64() + kGatewayConnectMs, x_.deadline) : x_.deadline;
      s = Connect(*a, limit, anySocket);
    }
    if (!s) return anySocket ? kGatewayCannotConnectText : kGatewaySetupFailedText;
    if (!Advance(Stage::Exchanging)) return kGatewayTimedOutText;
    // Over HTTPS the handshake and the check of the certificate come first, on this connection
    // and within the same deadline: a refused certificate means nothing of the request is sent.
    std::string failure;
    if (x_.https) {
      tls_.reset(new TlsChannel);
      failure = tls_->Open(s.get(), x_.host.c_str(), x_.deadline, kGatewayTimedOutText, kGatewayBrokenText);
      if (failure.empty() && Abandoned()) failure = kGatewayTimedOutText;
    }
    if (failure.empty()) failure = Send(s.get());
    if (failure.empty()) failure = Receive(s.get());
    Publish(INVALID_SOCKET);
    tls_.reset();  // before the socket closes: its context is the socket's
    return failure;
  }

  // A connected socket, or none when the address refused, could not be reached or did not
  // answer within limit; madeSocket is set once a socket for an address could be made. The
  // connect is non-blocking, so that it ends at the limit; then the socket blocks, each send and
  // recv bounded by the time left (a blocking recv is also the one that reliably reports a reset
  // connection under Wine).
  Socket Connect(const ADDRINFOW& address, ULONGLONG limit, bool& madeSocket) {
    Socket s(socket(address.ai_family, address.ai_socktype, address.ai_protocol));
    u_long nonBlocking = 1;
    if (!s || ioctlsocket(s.get(), FIONBIO, &nonBlocking) != 0) return Socket();
    madeSocket = true;
    if (!Publish(s.get())) return Socket();
    bool connected = connect(s.get(), address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
      int error = 0;
      int size = sizeof error;
      connected = WaitForConnect(s.get(), limit) &&
                  getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
                  error == 0;
    }
    u_long blocking = 0;
    if (connected && ioctlsocket(s.get(), FIONBIO, &blocking) == 0) return s;
    Publish(INVALID_SOCKET);
    return Socket();
  }

  // The failure text of a send or recv that failed.
  std::string Failed() const {
    const int error = WSAGetLastError();
    return error == WSAETIMEDOUT || TimeLeft(x_.deadline) == 0 ? kGatewayTimedOutText : kGatewayBrokenText;
  }

  std::string Send(SOCKET s) {
    const char* data = x_.request.data();
    size_t left = x_.request.size();
    while (left > 0) {
      if (!LimitTo(s, SO_SNDTIMEO, x_.deadline)) return kGatewayTimedOutText;
      const int n = tls_ ? tls_->Send(data, static_cast<int>(left)) : send(s, data, static_cast<int>(left), 0);
      if (n <= 0) return Failed();
      data += n;
      left -= static_cast<size_t>(n);
    }
    return std::string();
  }

  // Reads until the reader has what it needs; it bounds what is kept, whatever arrives.
  std::string Receive(SOCKET s) {
    HttpAnswerReader reader(x_.maxBody);
    char buffer[4096];
    while (reader.state() == HttpAnswerReader::State::NeedMore) {
      if (!LimitTo(s, SO_RCVTIMEO, x_.deadline)) return kGatewayTimedOutText;
      const int n = tls_ ? tls_->Receive(buffer, sizeof buffer) : recv(s, buffer, sizeof buffer, 0);
      if (Abandoned()) return kGatewayTimedOutText;
      if (n > 0) {
        reader.Feed(buffer, static_cast<size_t>(n));
      } else if (n == 0) {
        reader.EndOfStream();
      } else {
        return Failed();
      }
    }
    if (reader.state() == HttpAnswerReader::State::Failed) return DescribeAnswerFailure(reader.failure());
    status_ = reader.status();
    body_ = reader.body();
    callToken_ = reader.callToken();
    return std::string();
  }

  // Notes how far the exchange came; false once the caller has left.
  bool Advance(Stage stage) {
    std::lock_guard<win::SrwLock> lock(x_.mu);
    x_.stage = stage;
    return !x_.abandoned;
  }

  // Makes the socket the one the caller shuts down at the deadline; false once it has left.
  bool Publish(SOCKET s) {
    std::lock_guard<win::SrwLock> lock(x_.mu);
    x_.connection = s;
    return !x_.abandoned;
  }

  bool Abandoned() {
    std::lock_guard<win::SrwLock> lock(x_.mu);
    return x_.abandoned;
  }

  void Finish(const std::string& failure) {
    {
      std::lock_guard<win::SrwLock> lock(x_.mu);
      x_.connection = INVALID_SOCKET;
      x_.failure = failure;
      x_.status = status_;
      x_.body = body_;
      x_.callToken = callToken_;
    }
    SetEvent(x_.done.get());
  }

  Exchange& x_;
  std::unique_ptr<TlsChannel> tls_;  // over HTTPS, the channel on the connection
  int status_ = 0;
  std::string body_;
  std::string callToken_;
};

// The caller leaves: a worker still waiting on its connection wakes at once. Returns what the
// deadline cut short, as the user reads it: only a request that went out may have been taken.
std::string Abandon(Exchange& x) {
  std::lock_guard<win::SrwLock> lock(x.mu);
  x.abandoned = true;
  if (x.connection != INVALID_SOCKET) shutdown(x.connection, SD_BOTH);
  switch (x.stage) {
    case Stage::Resolving:
      return kGatewayUnresolvedText;
    case Stage::Connecting:
      return kGatewayCannotConnectText;
    case Stage::Exchanging:
      break;
  }
  return kGatewayTimedOutText;
}

// The pool's work item: context is the exchange's reference, owned from here on.
void CALLBACK RunExchange(PTP_CALLBACK_INSTANCE, void* context) {
  const std::unique_ptr<std::shared_ptr<Exchange>> exchange(static_cast<std::shared_ptr<Exchange>*>(context));
  Worker(**exchange).Run();
}

}  // namespace

GatewayExchange ExchangeWithGateway(const GatewayAddress& gateway, const std::string& request, size_t maxBodyBytes,
                                    void* cancel) {
  const auto refused = [](std::string reason) {
    GatewayExchange result;
    result.failure = std::move(reason);
    return result;
  };
  const GatewayHost where = ParseGatewayHost(gateway.host);
  if (where.problem) return refused(where.problem);
  if (request.empty()) return refused(kGatewayBadHostText);
  auto x = std::make_shared<Exchange>();
  x->port = gateway.port;
  x->https = where.https;
  x->host = fw::Utf8ToWide(where.name);  // the resolver's name may hold letters beyond the ANSI code page
  if (x->host.empty()) return refused(kGatewayBadHostText);
  x->request = request;
  x->maxBody = maxBodyBytes;
  x->done.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  x->deadline = GetTickCount64() + kGatewayDeadlineMs;
  if (!x->done) return refused(kGatewaySetupFailedText);
  // The worker runs on the process's thread pool: starting a thread of its own costs more than
  // the whole loopback exchange (6 to 8 ms under Wine, against 0.15 ms for a pooled one). The
  // pool adds a thread when every one is busy, so an exchange still hung in the resolver after
  // its deadline never holds up the next. The work item owns a reference to the exchange.
  auto* work = new std::shared_ptr<Exchange>(x);
  if (!TrySubmitThreadpoolCallback(RunExchange, work, nullptr)) {
    delete work;
    return refused(kGatewaySetupFailedText);
  }

  // Outlook's event calls are served while the exchange runs (on the user interface's thread);
  // posted reminders stay queued in their order until the message loop runs again.
  if (cancel) {
    const HANDLE handles[] = {x->done.get(), static_cast<HANDLE>(cancel)};
    if (WaitForMultipleObjects(2, handles, FALSE, kGatewayDeadlineMs) != WAIT_OBJECT_0) return refused(Abandon(*x));
  } else if (!fw::WaitServingOleCalls(x->done.get(), kGatewayDeadlineMs)) {
    return refused(Abandon(*x));
  }

  std::lock_guard<win::SrwLock> lock(x->mu);
  GatewayExchange result;
  result.failure = x->failure;
  result.status = x->status;
  result.body = x->body;
  result.callToken = x->callToken;
  return result;
}

GatewayAnswer PostToGateway(const GatewayAddress& gateway, const std::string& path, const std::string& body,
                            unsigned codePage) {
  const auto refused = [](std::string reason) { return GatewayAnswer{Outcome::Failed(std::move(reason)), {}, {}}; };

  const GatewayHost where = ParseGatewayHost(gateway.host);
  if (where.problem) return refused(where.problem);
  const GatewayExchange x =
      ExchangeWithGateway(gateway, ComposeGatewayRequest(where.name, gateway.port, path, body, codePage),
                          HttpAnswerReader::kMaxBodyBytes);
  if (!x.failure.empty()) return refused(x.failure);
  if (IsGatewayFailureStatus(static_cast<uint32_t>(x.status))) return refused(kGatewayUnreachableText);
  GatewayAnswer answer = InterpretGatewayAnswer(x.body);
  if (!answer.requestId.empty()) answer.callToken = x.callToken;
  return answer;
}
