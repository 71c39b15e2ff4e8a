#include "gateway/http_api.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/tcp.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <map>
#include <set>

#include "gateway/addresses.h"
#include "gateway/admission.h"
#include "gateway/call_request.h"
#include "gateway/event_log.h"
#include "gateway/https_files.h"
#include "gateway/metrics.h"
#include "gateway/number_patterns.h"
#include "gateway/owned_fd.h"
#include "gateway/status_view.h"

namespace talmery {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kHeadBytes = 32 * 1024;         // request line and headers, per connection
constexpr size_t kBufferedBodyBudget = 64 << 20; // bodies held at once, over all connections
constexpr long long kRefusalLogMs = 60 * 1000;   // refusals of one kind: a line per minute at most
constexpr auto kTimeoutSlack = std::chrono::milliseconds(100);
// TLS 1.2 and 1.3 with AEAD ciphers and forward secrecy, nothing older or weaker. A client's
// renegotiation is never carried out (the library ends the connection on one), and the safe
// renegotiation extension is required of 1.2 clients all the same.
constexpr char kTlsPriorities[] =
    "NONE:+VERS-TLS1.3:+VERS-TLS1.2:+AES-256-GCM:+AES-128-GCM:+CHACHA20-POLY1305:+AEAD:+ECDHE-ECDSA:+ECDHE-RSA:"
    "+SIGN-ALL:+GROUP-ALL:+COMP-NULL:%SAFE_RENEGOTIATION";

std::string AddressText(const sockaddr* addr) {
  char text[INET6_ADDRSTRLEN] = "";
  if (addr && addr->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(addr)->sin_addr, text, sizeof text);
  } else if (addr && addr->sa_family == AF_INET6) {
    const auto* a6 = reinterpret_cast<const sockaddr_in6*>(addr);
    if (IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) {
      inet_ntop(AF_INET, &a6->sin6_addr.s6_addr[12], text, sizeof text);  // as the client wrote it
    } else {
      inet_ntop(AF_INET6, &a6->sin6_addr, text, sizeof text);
    }
  }
  return text;
}

constexpr char kCallTokenHeader[] = "Talmery-Call-Token";

// 128 random bits as 32 lower-case hex digits; empty when the system gives no randomness.
std::string NewCallerToken() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "";
    got += static_cast<size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += kHex[b >> 4];
    token += kHex[b & 15];
  }
  return token;
}

// Whether the presented token is the call's, in a time that does not depend on where they
// differ: a caller measuring answers learns nothing of the token digit by digit. A call without
// a token matches none.
bool SameToken(const std::string& stored, const char* presented) {
  if (stored.empty() || !presented) return false;
  const size_t n = std::strlen(presented);
  unsigned char differ = n == stored.size() ? 0 : 1;
  for (size_t i = 0; i < stored.size(); ++i) differ |= static_cast<unsigned char>(stored[i] ^ (i < n ? presented[i] : 0));
  return differ == 0;
}

// Whether `method` is among `allow`, the methods of a route as its Allow header lists them.
bool Takes(const char* allow, const std::string& method) {
  const std::string list = allow;
  for (size_t at = 0; at <= list.size();) {
    const size_t end = std::min(list.find(", ", at), list.size());
    if (list.compare(at, end - at, method) == 0) return true;
    at = end + 2;
  }
  return false;
}

unsigned long long BytesReceived(int fd) {
  tcp_info info{};
  socklen_t len = sizeof info;
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return 0;
  return info.tcpi_bytes_received;
}

const char* BrowserHeader(MHD_Connection* c) {
  for (const char* name : {"Origin", "Referer"})
    if (MHD_lookup_connection_value(c, MHD_HEADER_KIND, name)) return name;
  const char* found = nullptr;
  MHD_get_connection_values(
      c, MHD_HEADER_KIND,
      [](void* cls, MHD_ValueKind, const char* key, const char*) -> MHD_Result {
        if (strncasecmp(key, "Sec-Fetch-", 10) == 0) {
          *static_cast<const char**>(cls) = key;
          return MHD_NO;
        }
        return MHD_YES;
      },
      &found);
  return found;
}

// A request whose length two headers could tell apart: a server or proxy in front may take one
// and we the other, and what one takes for the body the other takes for a request of its own
// (request smuggling). Refused and the connection closed (RFC 9112, sections 6.1 and 6.3), as is
// a transfer coding other than chunked, which libmicrohttpd would wait on until the time limit
// (501, as section 6.1 asks). 0 when the framing is sound, else the status with `reason`.
unsigned FramingProblem(MHD_Connection* c, std::string& reason) {
  struct Count {
    int length = 0, encoding = 0;
    bool chunked = true;
  } count;
  MHD_get_connection_values(
      c, MHD_HEADER_KIND,
      [](void* cls, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
        auto* n = static_cast<Count*>(cls);
        if (strcasecmp(key, "Content-Length") == 0) ++n->length;
        if (strcasecmp(key, "Transfer-Encoding") == 0) {
          ++n->encoding;
          n->chunked = n->chunked && value && strcasecmp(value, "chunked") == 0;
        }
        return MHD_YES;
      },
      &count);
  if (count.length > 0 && count.encoding > 0) {
    reason = "the request has both Content-Length and Transfer-Encoding";
  } else if (count.length > 1) {
    reason = "the request has more than one Content-Length";
  } else if (count.encoding > 1) {
    reason = "the request has more than one Transfer-Encoding";
  } else if (count.encoding == 1 && !count.chunked) {
    reason = "the request's Transfer-Encoding is not chunked";
    return 501;
  } else {
    return 0;
  }
  return 400;
}

}  // namespace

class HttpApi::Server {
 public:
  Server(const Config& config, CallStore& store, EventLog& log, std::function<void()> wake, const GatewayClock& clock)
      : config_(config), store_(store), log_(log), wake_(std::move(wake)), clock_(clock),
        admission_(AdmissionLimits{config.clientRate, config.dailyCalls, config.maxQueued}),
        refusals_(kRefusalLogMs), httpMessages_(kRefusalLogMs) {
    admission_.Seed(store_.AcceptedSince(Tick() - 24LL * 3600 * 1000));
  }
  ~Server() { Stop(); }

  bool Bind(int& port, int& plainPort, unsigned connections, std::string& error);
  bool Reload(std::string& error);
  void Serve();
  void Stop();

 private:
  // What we know of one connection; one request at a time. `mu_` guards the fields that the
  // sweeper reads.
  enum class Phase { Head, Body, Working, Answered };
  struct Route;
  struct Conn {
    // libmicrohttpd's socket: read (its byte count) and, for a head past its time, shut down,
    // only while the connection is in conns_. The library tells its end (OnConnection) before
    // it closes the socket, so the number is never another's meanwhile.
    int socket = -1;
    bool tls = false;        // its bytes received count the handshake and the alerts too
    std::string address;
    Clock::time_point start; // when the current request may begin
    Phase phase = Phase::Head;
    bool cut = false;        // ended past its time (Sweep, TooSlow, the library's timeout)
    int requests = 0;        // answered on this connection
    unsigned long long bytesBefore = 0;  // received before the current request
    // The request being read.
    std::string path;        // and when its head was whole: the metrics' answer time
    Clock::time_point headAt;
    const Route* page = nullptr;  // a GET or HEAD of this route, answered once the request is whole
    int codePage = 0;
    bool overflow = false;   // past the limit (or past the budget, when busy): no longer kept
    bool busy = false;
    std::string callToken;   // sent with the next answer (an accepted call's)
    std::string body;
    size_t held = 0;         // what body counts in buffered_
  };
  void Keep(Conn& conn) {
    const size_t now = conn.body.capacity();
    buffered_ += now;
    buffered_ -= conn.held;
    conn.held = now;
  }
  void Free(Conn& conn) {
    std::string().swap(conn.body);
    buffered_ -= conn.held;
    conn.held = 0;
  }

  static MHD_Result OnAccept(void* cls, const sockaddr* addr, socklen_t);
  static MHD_Result OnRequest(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                              const char* data, size_t* size, void** reqCls);
  static void OnCompleted(void* cls, MHD_Connection* c, void** reqCls, MHD_RequestTerminationCode);
  static void OnConnection(void* cls, MHD_Connection* c, void** socketContext, MHD_ConnectionNotificationCode code);
  static void OnLog(void* cls, const char* format, va_list ap);

  MHD_Result Request(MHD_Connection* c, Conn& conn, const std::string& url, const std::string& method,
                     const char* data, size_t* size);

  // Who may ask for a route: the clients (everyone when `clients` is not set), metrics_clients
  // alone, or either (administrators may read any call, as they may the metrics).
  enum class Askers { Clients, MetricsClients, ClientsOrMetricsClients };
  // The route's path itself, or the path followed by a call's id (digits).
  enum class Match { Exact, Id };
  using Handler = MHD_Result (Server::*)(MHD_Connection* c, Conn& conn);
  // One path that is served. A POST's handler runs as soon as the head is whole, before a byte
  // of the body is read; a GET's or HEAD's once the request is whole (a body of it is dropped).
  struct Route {
    const char* path;
    Match match;
    Askers askers;
    const char* methods;  // those it takes, as its Allow header lists them
    Handler handler;
  };
  static const Route kRoutes[];
  static const Route* FindRoute(const std::string& url);
  // Whether conn's address may ask for what `askers` names; refused (and answered) when not.
  bool MayAsk(MHD_Connection* c, Conn& conn, Askers askers, MHD_Result& refusal);
  MHD_Result StatusPageAnswer(MHD_Connection* c, Conn& conn);
  MHD_Result MetricsAnswer(MHD_Connection* c, Conn& conn);
  MHD_Result CallAnswer(MHD_Connection* c, Conn& conn);
  MHD_Result BeginCall(MHD_Connection* c, Conn& conn);
  MHD_Result FinishCall(MHD_Connection* c, Conn& conn);
  MHD_Result Answer(MHD_Connection* c, Conn& conn, unsigned status, const std::string& body,
                    const char* type = "text/plain", const char* allow = nullptr, bool close = false);
  MHD_Result Refuse(MHD_Connection* c, Conn& conn, Refusal kind, const std::string& reason);
  bool Among(const std::string& address, const std::vector<AddressBlock>& blocks) {
    Address16 a;
    return ParseAddress(address, a) && InAnyBlock(a, blocks);
  }
  // Every refusal goes through here: counted under its kind, logged (once per kind and interval)
  // and held against the address on the page, on the ticks that the page's hours age on.
  void Refused(const std::string& address, Refusal kind, const std::string& reason) {
    LogRefusal(address, kind, reason);
    admission_.Refused(address, Tick());
  }
  // Counted and logged only: for the refusals Admission has already held against the address.
  void LogRefusal(const std::string& address, Refusal kind, const std::string& reason);
  // The refusals not yet told whose interval has ended (all of them with `all`).
  void LogRepeatedRefusals(bool all);
  // Ends the heads that have not arrived whole within request_seconds.
  void Sweep();
  // Past the request's time (a body still arriving): logged and true. Otherwise the library's
  // timeout of this connection is what is left of the time, so that a body that stops coming
  // is cut at it.
  bool TooSlow(MHD_Connection* c, Conn& conn);
  // The reason a request cut short is logged with: its body was past the limit, or it was late.
  static std::string LateReason(const Conn& conn);
  void RefusedLate(const Conn& conn) {
    Refused(conn.address, conn.overflow ? Refusal::TooLarge : Refusal::TooSlow, LateReason(conn));
  }
  std::string StatusPageText();
  // A listening socket on host:port (port 0: any free one), and the port it has.
  bool Listen(const std::string& hostText, int portNumber, OwnedFd& fd, int& family, int& port, std::string& error);
  // A daemon serving `fd` (HTTPS with `tls`); nullptr with a reason.
  MHD_Daemon* StartDaemon(int fd, int family, const HttpsFiles* tls, const std::string& where, std::string& error);
  // Ends the daemons a reload quiesced once their connections are gone or past their time.
  void EndRetired(bool all);
  // The calls waiting: counted in the store at most every 100 ms, plus those accepted since. On
  // a shared store the other nodes' calls of the limits' windows are counted then too. One
  // request counts; the others meanwhile go on with the last count.
  long long Waiting(const Instant& now) {
    std::unique_lock<std::mutex> lock(waitingMu_);
    if ((now.tickMs - waitingAtMs_ >= 100 || now.tickMs < waitingAtMs_) && !counting_) {
      counting_ = true;
      lock.unlock();
      SharedCounts counts = store_.Counts(now);
      if (store_.Shared()) admission_.SetOthers(counts.othersToday, std::move(counts.othersMinute));
      lock.lock();
      counting_ = false;
      waiting_ = counts.waiting;
      waitingAtMs_ = now.tickMs;
    }
    return waiting_;
  }

  const Config& config_;
  CallStore& store_;
  EventLog& log_;
  std::function<void()> wake_;
  const GatewayClock& clock_;
  // The limits' windows run on ticks: a wall-clock step neither frees nor blocks a client.
  long long Tick() const { return clock_.Now().tickMs; }
  Admission admission_;
  RefusalDigest refusals_;
  RefusalDigest httpMessages_;  // libmicrohttpd's own messages
  // The daemon of `listen` (HTTPS or not) and that of listen_plain. A reload quiesces the HTTPS
  // one and hands its socket to a new daemon: the old one stays until its connections end
  // (request_seconds at most), then is stopped and its copy of the socket closed.
  struct Retired {
    MHD_Daemon* daemon;
    int socket;
    Clock::time_point until;
  };
  std::mutex daemonsMu_;
  MHD_Daemon* daemon_ = nullptr;
  MHD_Daemon* plain_ = nullptr;
  int family_ = AF_INET;
  std::string where_;
  std::vector<Retired> retired_;
  unsigned connections_ = 0;
  std::mutex mu_;
  std::condition_variable stopCv_;
  bool stopping_ = false;
  std::set<Conn*> conns_;
  std::map<std::string, int> perAddress_;  // connections open, by client address
  std::atomic<size_t> buffered_{0};
  std::vector<AddressBlock> clients_;
  std::mutex waitingMu_;
  long long waiting_ = 0, waitingAtMs_ = -1000000;
  bool counting_ = false;
};

void HttpApi::Server::LogRefusal(const std::string& address, Refusal kind, const std::string& reason) {
  metrics::CallRefused(kind);
  if (refusals_.Note(address, reason, Tick())) log_.Write("refused", {{"from", address}, {"reason", reason}});
}

void HttpApi::Server::LogRepeatedRefusals(bool all) {
  const std::string interval = std::to_string(refusals_.IntervalMs() / 1000) + "s";
  for (const RefusalDigest::Summary& s : refusals_.Due(Tick(), all))
    log_.Write("refused", {{"from", s.address}, {"reason", s.reason}, {"repeated", std::to_string(s.repeated)},
                           {"interval", interval}});
  for (const RefusalDigest::Summary& s : httpMessages_.Due(Tick(), all))
    log_.Write("http", {{"message", s.reason}, {"repeated", std::to_string(s.repeated)}, {"interval", interval}});
}

MHD_Result HttpApi::Server::OnAccept(void* cls, const sockaddr* addr, socklen_t) {
  auto* self = static_cast<Server*>(cls);
  const std::string address = AddressText(addr);
  std::string reason;
  Refusal kind = Refusal::NotAClient;
  // A scraper of the metrics may connect too; it reads nothing else (Request).
  if (!self->clients_.empty() && !self->Among(address, self->clients_) &&
      !self->Among(address, self->config_.metricsClients)) {
    reason = "not among the clients of this gateway";
  } else {
    std::lock_guard<std::mutex> lock(self->mu_);
    // Each daemon has the limit of its own: it holds over all of them here.
    if (self->conns_.size() >= self->connections_) {
      if (self->httpMessages_.Note("", "the connection limit is reached", self->Tick()))
        self->log_.Write("http", {{"message", "the connection limit is reached"}});
      return MHD_NO;
    }
    auto it = self->perAddress_.find(address);
    if (it != self->perAddress_.end() && it->second >= self->config_.clientConnections) {
      kind = Refusal::TooManyConnections;
      reason = "more than " + std::to_string(self->config_.clientConnections) + " connections open at once";
    }
  }
  if (reason.empty()) return MHD_YES;
  self->Refused(address, kind, reason);
  return MHD_NO;
}

void HttpApi::Server::OnConnection(void* cls, MHD_Connection* c, void** socketContext,
                                   MHD_ConnectionNotificationCode code) {
  auto* self = static_cast<Server*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* fd = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
    const MHD_ConnectionInfo* addr = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    auto conn = std::make_unique<Conn>();
    conn->socket = fd ? fd->connect_fd : -1;
    conn->tls = MHD_get_connection_info(c, MHD_CONNECTION_INFO_GNUTLS_SESSION) != nullptr;
    conn->address = addr ? AddressText(addr->client_addr) : "";
    conn->start = Clock::now();
    std::lock_guard<std::mutex> lock(self->mu_);
    self->conns_.insert(conn.get());
    ++self->perAddress_[conn->address];
    *socketContext = conn.release();
    return;
  }
  std::unique_ptr<Conn> conn(static_cast<Conn*>(*socketContext));
  *socketContext = nullptr;
  if (!conn) return;
  bool stopping = false;
  {
    std::lock_guard<std::mutex> lock(self->mu_);
    stopping = self->stopping_;
    self->conns_.erase(conn.get());
    auto it = self->perAddress_.find(conn->address);
    if (it != self->perAddress_.end() && --it->second <= 0) self->perAddress_.erase(it);
  }
  self->Free(*conn);
  if (conn->cut || conn->phase != Phase::Head || conn->socket < 0) return;
  // The kernel counts the client's FIN as one octet received, so a client that closes after its
  // last answer (or connects and leaves) has sent one "byte" since: that is no refused head.
  const unsigned long long sent = BytesReceived(conn->socket) - conn->bytesBefore;
  std::string reason;
  Refusal kind = Refusal::MalformedHead;
  const bool late = Clock::now() - conn->start > std::chrono::seconds(self->config_.requestSeconds) - kTimeoutSlack;
  if (conn->tls) {
    // Over TLS the bytes tell nothing of a head: the handshake and a closing alert count too.
    // A client that leaves after its answers is no refusal; one that got none never had a
    // request through: a handshake refused (a protocol or cipher not taken, or no TLS at all),
    // or a head the library refused.
    // The library's timeout ends a handshake still coming at request_seconds from its start.
    if (conn->requests > 0 || stopping) return;
    if (late && sent == 0) {
      kind = Refusal::Idle;
      reason = "nothing was sent within " + std::to_string(self->config_.requestSeconds) + " s";
    } else if (late) {
      kind = Refusal::TooSlow;
      reason = "the request took too long";
    } else if (sent > 0) {
      reason = "no request came over TLS (the handshake failed, or the head was malformed)";
    }
  } else if (sent > 1) {
    // A head that libmicrohttpd itself refused (malformed, too large): it never reached us.
    reason = "the request head is malformed or larger than " + std::to_string(kHeadBytes / 1024) + " KB";
  } else if (sent == 0 && conn->requests == 0 && !stopping && late) {
    // The library's timeout, which counts from its accept, a moment before our start.
    kind = Refusal::Idle;
    reason = "nothing was sent within " + std::to_string(self->config_.requestSeconds) + " s";
  }
  if (reason.empty()) return;
  self->Refused(conn->address, kind, reason);
}

void HttpApi::Server::OnCompleted(void* cls, MHD_Connection* c, void** reqCls, MHD_RequestTerminationCode code) {
  auto* self = static_cast<Server*>(cls);
  *reqCls = nullptr;
  const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  Conn* conn = info ? static_cast<Conn*>(info->socket_context) : nullptr;
  if (!conn) return;
  self->Free(*conn);
  if (code == MHD_REQUEST_TERMINATED_TIMEOUT_REACHED && conn->phase == Phase::Body && !conn->cut) {
    conn->cut = true;  // its body stopped coming: the library's timeout, set by TooSlow
    self->RefusedLate(*conn);
  }
  // Kept alive: the next request has request_seconds again, from now.
  MHD_set_connection_option(c, MHD_CONNECTION_OPTION_TIMEOUT, static_cast<unsigned>(self->config_.requestSeconds));
  const unsigned long long bytes = conn->socket >= 0 ? BytesReceived(conn->socket) : 0;
  std::lock_guard<std::mutex> lock(self->mu_);
  conn->bytesBefore = bytes;
  ++conn->requests;
  conn->phase = Phase::Head;
  conn->start = Clock::now();
  conn->overflow = conn->busy = false;
  conn->page = nullptr;
}

void HttpApi::Server::OnLog(void* cls, const char* format, va_list ap) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, ap);
  std::string message = text;
  while (!message.empty() && (message.back() == '\n' || message.back() == '.')) message.pop_back();
  // A malformed request draws one of these: told like refusals, once per kind and interval.
  auto* self = static_cast<Server*>(cls);
  if (self->httpMessages_.Note("", message, self->Tick())) self->log_.Write("http", {{"message", message}});
}

MHD_Result HttpApi::Server::OnRequest(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                                      const char* data, size_t* size, void** reqCls) {
  auto* self = static_cast<Server*>(cls);
  const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  Conn* conn = info ? static_cast<Conn*>(info->socket_context) : nullptr;
  if (!conn) return MHD_NO;
  *reqCls = conn;
  return self->Request(c, *conn, url ? url : "", method ? method : "", data, size);
}

MHD_Result HttpApi::Server::Answer(MHD_Connection* c, Conn& conn, unsigned status, const std::string& body,
                                   const char* type, const char* allow, bool close) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (conn.cut) return MHD_NO;
    conn.phase = Phase::Answered;
  }
  metrics::HttpAnswered(conn.path, Clock::now() - conn.headAt);
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", type);
  if (allow) MHD_add_response_header(response, "Allow", allow);
  if (close) MHD_add_response_header(response, "Connection", "close");
  if (!conn.callToken.empty()) MHD_add_response_header(response, kCallTokenHeader, conn.callToken.c_str());
  conn.callToken.clear();
  if (status != 200 || std::strcmp(type, "text/plain") != 0) MHD_add_response_header(response, "Cache-Control", "no-store");
  const MHD_Result r = MHD_queue_response(c, status, response);
  MHD_destroy_response(response);
  return r;
}

MHD_Result HttpApi::Server::Refuse(MHD_Connection* c, Conn& conn, Refusal kind, const std::string& reason) {
  Refused(conn.address, kind, reason);
  return Answer(c, conn, 200, "ERROR: " + reason + "\r\n");
}

MHD_Result HttpApi::Server::Request(MHD_Connection* c, Conn& conn, const std::string& url, const std::string& method,
                                    const char* data, size_t* size) {
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (conn.cut) return MHD_NO;
    if (conn.phase == Phase::Answered) {  // refused before its body: the rest is not read
      *size = 0;
      return MHD_YES;
    }
    if (conn.phase == Phase::Head) {
      conn.phase = Phase::Body;
      first = true;
    }
  }
  if (TooSlow(c, conn)) return MHD_NO;  // no answer can be given now: the library closes it
  if (first) {
    conn.path = url;
    conn.headAt = Clock::now();
    std::string problem;
    if (const unsigned status = FramingProblem(c, problem)) {
      Refused(conn.address, Refusal::BadRequest, problem);
      return Answer(c, conn, status, "ERROR: " + problem + "\r\n", "text/plain", nullptr, true);
    }
    // Paths first, then who asks, then methods: an unknown path is 404 whatever the method, a
    // known path with the wrong method 405 with the methods it takes. The body of either is
    // never read.
    const Route* route = FindRoute(url);
    MHD_Result refusal = MHD_NO;
    if (!MayAsk(c, conn, route ? route->askers : Askers::Clients, refusal)) return refusal;
    if (!route) return Answer(c, conn, 404, "not found\n");
    if (!Takes(route->methods, method)) return Answer(c, conn, 405, "method not allowed\n", "text/plain", route->methods);
    if (method == "POST") return (this->*route->handler)(c, conn);
    // Answered on the next call, once the request is whole: an answer given now would end the
    // connection (its end is not known yet), and pages are worth a kept-alive one.
    conn.page = route;
    return MHD_YES;
  }
  if (conn.page) {
    const size_t n = *size;
    *size = 0;  // a body of a GET is not kept
    if (n > 0) return MHD_YES;
    return (this->*conn.page->handler)(c, conn);
  }
  if (*size > 0) {
    // Past the limit the bytes are dropped as they come: memory stays bounded whatever the
    // framing (Content-Length, chunked, or none), and the answer waits for the body's end.
    const size_t n = *size;
    *size = 0;
    if (conn.overflow) return MHD_YES;
    if (conn.body.size() + n > kMaxRequestBytes || buffered_ + n > kBufferedBodyBudget) {
      conn.overflow = true;
      conn.busy = conn.body.size() + n <= kMaxRequestBytes;
      Free(conn);
      return MHD_YES;
    }
    conn.body.append(data, n);
    Keep(conn);
    return MHD_YES;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (conn.cut) return MHD_NO;
    conn.phase = Phase::Working;  // whole: from here on it is answered, whatever the time
  }
  return FinishCall(c, conn);
}

MHD_Result HttpApi::Server::BeginCall(MHD_Connection* c, Conn& conn) {
  // Everything that the head decides is decided before a byte of the body is read.
  if (const char* header = BrowserHeader(c))
    return Refuse(c, conn, Refusal::Browser, std::string("calls are not taken from web browsers (the request has a ") + header +
                               " header)");
  const char* type = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Content-Type");
  std::string reason;
  if (!ParseFormContentType(type ? type : "", conn.codePage, reason))
    return Refuse(c, conn, Refusal::ContentType, reason);
  if (const char* length = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Content-Length")) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(length, &end, 10);
    if (errno != 0 || n > kMaxRequestBytes)
      return Refuse(c, conn, Refusal::TooLarge, "the request is larger than " + std::to_string(kMaxRequestBytes / 1024) + " KB");
  }
  return MHD_YES;
}

MHD_Result HttpApi::Server::FinishCall(MHD_Connection* c, Conn& conn) {
  if (conn.overflow) {
    if (conn.busy)
      return Refuse(c, conn, Refusal::Busy, "the gateway is busy reading other requests: try again");
    return Refuse(c, conn, Refusal::TooLarge, "the request is larger than " + std::to_string(kMaxRequestBytes / 1024) + " KB");
  }
  CallRequest call;
  std::string reason;
  const int codePage = conn.codePage ? conn.codePage : config_.agentCodePage;
  if (!ParseCallRequest(conn.body, call, reason, codePage)) return Refuse(c, conn, Refusal::BadRequest, reason);
  if (!NumberAllowed(config_.numbers, call.number))
    return Refuse(c, conn, Refusal::NumberNotAllowed, "the number " + MaskNumber(call.number) + " may not be called from this gateway");
  const Instant now = clock_.Now();
  const long long waiting = config_.maxQueued > 0 || store_.Shared() ? Waiting(now) : 0;
  Refusal kind = Refusal::BadRequest;
  if (!admission_.TryAdmit(conn.address, now.tickMs, waiting, reason, kind)) {
    LogRefusal(conn.address, kind, reason);
    return Answer(c, conn, 200, "ERROR: " + reason + "\r\n");
  }
  call.callerToken = NewCallerToken();
  if (call.callerToken.empty()) {
    admission_.Released(conn.address, now.tickMs);
    metrics::CallRefused(Refusal::StoreError);
    return Answer(c, conn, 200, "ERROR: the call could not be stored: the system gave no random numbers\r\n");
  }
  long long id = 0;
  std::string error;
  const Written stored = store_.Accept(call, conn.address, config_.attempts, now, id, error);
  if (stored == Written::Unknown) {
    // It may be stored, and then it will be called: neither its id nor ERROR is true. The
    // agent, left without an answer, says the call may or may not be placed.
    log_.Write("store", {{"error", error}, {"request", "left unanswered: it may be stored"}, {"from", conn.address}});
    return MHD_NO;
  }
  if (stored != Written::Done) {
    admission_.Released(conn.address, now.tickMs);
    log_.Write("store", {{"error", error}});
    metrics::CallRefused(Refusal::StoreError);
    return Answer(c, conn, 200, "ERROR: the call could not be stored: " + error + "\r\n");
  }
  {
    std::lock_guard<std::mutex> lock(waitingMu_);
    ++waiting_;
  }
  metrics::CallAccepted();
  log_.Write("state", {{"call", std::to_string(id)}, {"state", state::kQueued}, {"number", MaskNumber(call.number)},
                       {"firstocc", std::to_string(call.firstOcc)}, {"selfdelete", call.selfDelete ? "1" : "0"},
                       {"from", conn.address}});
  if (wake_) wake_();
  conn.callToken = call.callerToken;
  return Answer(c, conn, 200, "[" + std::to_string(id) + "]\r\n");
}

// The paths served, looked at in this order.
const HttpApi::Server::Route HttpApi::Server::kRoutes[] = {
    {"/metrics", Match::Exact, Askers::MetricsClients, "GET, HEAD", &Server::MetricsAnswer},
    {kCallPath, Match::Exact, Askers::Clients, "POST", &Server::BeginCall},
    {"/", Match::Exact, Askers::Clients, "GET, HEAD", &Server::StatusPageAnswer},
    {"/calls/", Match::Id, Askers::ClientsOrMetricsClients, "GET, HEAD", &Server::CallAnswer},
};

const HttpApi::Server::Route* HttpApi::Server::FindRoute(const std::string& url) {
  for (const Route& route : kRoutes) {
    const size_t n = std::strlen(route.path);
    if (url.compare(0, n, route.path) != 0) continue;
    if (route.match == Match::Exact ? url.size() == n
                                    : url.size() > n && url.find_first_not_of("0123456789", n) == std::string::npos)
      return &route;
  }
  return nullptr;
}

bool HttpApi::Server::MayAsk(MHD_Connection* c, Conn& conn, Askers askers, MHD_Result& refusal) {
  if (askers == Askers::MetricsClients) {
    // The scraper's addresses: anyone else is refused, and logged.
    if (Among(conn.address, config_.metricsClients)) return true;
    Refused(conn.address, Refusal::MetricsClient, "the metrics are served to metrics_clients only");
    refusal = Answer(c, conn, 403, "forbidden: the metrics are served to metrics_clients only\n");
    return false;
  }
  if (clients_.empty() || Among(conn.address, clients_)) return true;
  if (askers == Askers::ClientsOrMetricsClients && Among(conn.address, config_.metricsClients)) return true;
  // Not answered: the connection is closed.
  Refused(conn.address, Refusal::NotAClient, "not among the clients of this gateway");
  refusal = MHD_NO;
  return false;
}

MHD_Result HttpApi::Server::StatusPageAnswer(MHD_Connection* c, Conn& conn) {
  return Answer(c, conn, 200, StatusPageText(), "text/html; charset=utf-8");
}

MHD_Result HttpApi::Server::MetricsAnswer(MHD_Connection* c, Conn& conn) {
  return Answer(c, conn, 200, metrics::Page(store_.Figures(clock_.Now()), clock_.Now().wallMs),
                "text/plain; version=0.0.4; charset=utf-8");
}

MHD_Result HttpApi::Server::CallAnswer(MHD_Connection* c, Conn& conn) {
  const std::string digits = conn.path.substr(std::strlen(conn.page->path));
  CallRecord call;
  // Only its caller (who holds its token) and administrators may read a call; anyone else is
  // told what an unknown id is told, so that ids cannot be tried for the calls they name.
  const bool found = digits.size() <= 18 && store_.Get(std::stoll(digits), call);
  if (!found || !(Among(conn.address, config_.metricsClients) ||
                  SameToken(call.callerToken, MHD_lookup_connection_value(c, MHD_HEADER_KIND, kCallTokenHeader))))
    return Answer(c, conn, 404, "{\"error\": \"no such call\"}\n", "application/json");
  ViewOptions view;
  view.showText = config_.showText;
  view.nowMs = clock_.Now().wallMs;
  view.followMs = FollowMs(config_.maxWait, config_.retryPause, config_.ringTime, config_.maxCallTime, config_.snoozes,
                           config_.snoozeMinutes);
  return Answer(c, conn, 200, CallJson(call, view), "application/json");
}

std::string HttpApi::Server::StatusPageText() {
  ViewOptions view;
  view.showText = config_.showText;
  view.refreshSeconds = config_.pageRefresh;
  view.mode = config_.mode == DialMode::Sip ? "SIP" : "speaker";
  view.clients = admission_.Activity(Tick());
  view.showClients = true;
  view.showNodes = store_.Shared();
  if (view.showNodes) view.nodes = store_.Nodes();
  return StatusPage(store_.Recent(config_.pageCalls), view, clock_.Now().wallMs);
}

std::string HttpApi::Server::LateReason(const Conn& conn) {
  if (conn.overflow) return "the request is larger than " + std::to_string(kMaxRequestBytes / 1024) + " KB";
  return "the request took too long";
}

bool HttpApi::Server::TooSlow(MHD_Connection* c, Conn& conn) {
  const auto left = conn.start + std::chrono::seconds(config_.requestSeconds) - Clock::now();
  if (left > Clock::duration::zero()) {
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
    MHD_set_connection_option(c, MHD_CONNECTION_OPTION_TIMEOUT, static_cast<unsigned>(seconds));
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    conn.cut = true;
  }
  RefusedLate(conn);
  return true;
}

// A head still arriving at its time (bytes trickled in): libmicrohttpd calls us only once a head
// is whole, and its own timeout counts from the last byte, so a client sending a byte a second
// would hold its connection for as long as 32 KB take. Such a head is ended here: its socket is
// shut down (libmicrohttpd then reads its end and closes the connection as the client's doing),
// never written to. A silent connection is the library's timeout's (OnConnection logs it).
void HttpApi::Server::Sweep() {
  const auto now = Clock::now();
  const auto limit = std::chrono::seconds(config_.requestSeconds);
  std::lock_guard<std::mutex> lock(mu_);
  for (Conn* conn : conns_) {
    if (conn->cut || conn->socket < 0 || conn->phase != Phase::Head || now - conn->start < limit) continue;
    if (BytesReceived(conn->socket) <= conn->bytesBefore) continue;
    conn->cut = true;
    // Logged first, so that the line is there when the client sees its connection end.
    Refused(conn->address, Refusal::TooSlow, "the request took too long");
    shutdown(conn->socket, SHUT_RDWR);
  }
}

bool HttpApi::Server::Listen(const std::string& hostText, int portNumber, OwnedFd& fd, int& family, int& port,
                             std::string& error) {
  std::string host = hostText;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string where = hostText + ":" + std::to_string(portNumber);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(portNumber).c_str(), &hints, &found) != 0 || !found) {
    error = "cannot listen on " + where + " (not an address of this machine)";
    return false;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, freeaddrinfo);
  family = found->ai_family;
  fd = OwnedFd(socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int yes = 1, no = 0;
  if (fd.get() >= 0) {
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (family == AF_INET6) setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
  }
  if (fd.get() < 0 || bind(fd.get(), found->ai_addr, found->ai_addrlen) != 0 || listen(fd.get(), 1024) != 0) {
    error = "cannot listen on " + where + " (" + std::strerror(errno) + ": in use, or not an address of this machine)";
    return false;
  }
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &len);
  port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                           : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return true;
}

MHD_Daemon* HttpApi::Server::StartDaemon(int fd, int family, const HttpsFiles* tls, const std::string& where,
                                         std::string& error) {
  // ITC: a quiesced daemon's threads must be woken to let go of the socket (Reload).
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ERROR_LOG | MHD_USE_ITC;
  if (family == AF_INET6) flags |= MHD_USE_IPv6;
  MHD_OptionItem tlsOptions[] = {
      {MHD_OPTION_HTTPS_MEM_KEY, 0, tls ? const_cast<char*>(tls->key.c_str()) : nullptr},
      {MHD_OPTION_HTTPS_MEM_CERT, 0, tls ? const_cast<char*>(tls->certificate.c_str()) : nullptr},
      {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)},
      {MHD_OPTION_END, 0, nullptr}};
  if (tls) flags |= MHD_USE_TLS;
  const int threads = std::max(1, config_.httpThreads);
  MHD_Daemon* daemon = MHD_start_daemon(
      flags, 0, &Server::OnAccept, this, &Server::OnRequest, this,  //
      // First, so that libmicrohttpd's messages about the options after it reach our log too.
      MHD_OPTION_EXTERNAL_LOGGER, &Server::OnLog, this,             //
      MHD_OPTION_ARRAY, tls ? tlsOptions : tlsOptions + 3,          //
      MHD_OPTION_LISTEN_SOCKET, fd,                                 //
      MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(threads),  //
      MHD_OPTION_CONNECTION_LIMIT, connections_,                    //
      // A connection silent this long is closed by the library (TooSlow shortens it to what is
      // left of a request's time while its body arrives). Over TLS the handshake is in it.
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(config_.requestSeconds),
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kHeadBytes,                              //
      MHD_OPTION_NOTIFY_COMPLETED, &Server::OnCompleted, this,                     //
      MHD_OPTION_NOTIFY_CONNECTION, &Server::OnConnection, this,                   //
      MHD_OPTION_SIGPIPE_HANDLED_BY_APP, 1,                                        //
      MHD_OPTION_END);
  if (!daemon) error = std::string("cannot serve ") + (tls ? "HTTPS" : "HTTP") + " on " + where + " (libmicrohttpd did not start)";
  return daemon;
}

bool HttpApi::Server::Bind(int& port, int& plainPort, unsigned connections, std::string& error) {
  clients_ = config_.clients;
  connections_ = connections;
  HttpsFiles tls;
  if (config_.Https() && !ReadHttpsFiles(config_.tlsCertificate, config_.tlsKey, tls, error)) return false;
  OwnedFd fd, plainFd;
  int plainFamily = AF_INET;
  if (!Listen(config_.listenHost, config_.listenPort, fd, family_, port, error)) return false;
  if (config_.listenPlainPort >= 0 &&
      !Listen(config_.listenPlainHost, config_.listenPlainPort, plainFd, plainFamily, plainPort, error))
    return false;
  where_ = config_.listenHost + ":" + std::to_string(config_.listenPort);
  std::lock_guard<std::mutex> lock(daemonsMu_);
  daemon_ = StartDaemon(fd.get(), family_, config_.Https() ? &tls : nullptr, where_, error);
  if (!daemon_) return false;
  fd.release();  // the daemon closes it
  if (plainFd.get() >= 0) {
    plain_ = StartDaemon(plainFd.get(), plainFamily, nullptr,
                         config_.listenPlainHost + ":" + std::to_string(config_.listenPlainPort), error);
    if (!plain_) return false;
    plainFd.release();
  }
  return true;
}

bool HttpApi::Server::Reload(std::string& error) {
  if (!config_.Https()) return true;
  HttpsFiles tls;
  if (!ReadHttpsFiles(config_.tlsCertificate, config_.tlsKey, tls, error)) return false;
  std::lock_guard<std::mutex> lock(daemonsMu_);
  if (!daemon_) {
    error = "the gateway is stopping";
    return false;
  }
  // The new daemon takes a copy of the socket while the old one still accepts on it, so that no
  // connection waits on a socket nobody serves, and a daemon that does not start leaves the old
  // one as it was. Once the old one is quiesced, every new connection is the new one's.
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_LISTEN_FD);
  OwnedFd copy(info ? fcntl(info->listen_fd, F_DUPFD_CLOEXEC, 0) : -1);
  if (copy.get() < 0) {
    error = std::string("cannot take the listening socket over: ") + std::strerror(errno);
    return false;
  }
  MHD_Daemon* fresh = StartDaemon(copy.get(), family_, &tls, where_, error);
  if (!fresh) return false;
  copy.release();
  const MHD_socket old = MHD_quiesce_daemon(daemon_);
  const auto until = Clock::now() + std::chrono::seconds(config_.requestSeconds) + std::chrono::seconds(1);
  retired_.push_back({daemon_, old, until});
  daemon_ = fresh;
  return true;
}

void HttpApi::Server::EndRetired(bool all) {
  std::vector<Retired> ending;
  {
    std::lock_guard<std::mutex> lock(daemonsMu_);
    const auto now = Clock::now();
    for (auto it = retired_.begin(); it != retired_.end();) {
      const MHD_DaemonInfo* info = MHD_get_daemon_info(it->daemon, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
      if (all || now >= it->until || !info || info->num_connections == 0) {
        ending.push_back(*it);
        it = retired_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const Retired& r : ending) {
    MHD_stop_daemon(r.daemon);
    if (r.socket != MHD_INVALID_SOCKET) close(r.socket);
  }
}

void HttpApi::Server::Serve() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stopping_) {
    stopCv_.wait_for(lock, std::chrono::milliseconds(100));
    if (stopping_) break;
    lock.unlock();
    Sweep();
    EndRetired(false);
    LogRepeatedRefusals(false);
    lock.lock();
  }
}

void HttpApi::Server::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  stopCv_.notify_all();
  EndRetired(true);
  MHD_Daemon* daemon = nullptr;
  MHD_Daemon* plain = nullptr;
  {
    std::lock_guard<std::mutex> lock(daemonsMu_);
    std::swap(daemon, daemon_);
    std::swap(plain, plain_);
  }
  if (plain) MHD_stop_daemon(plain);
  if (daemon) MHD_stop_daemon(daemon);
  if (daemon || plain) LogRepeatedRefusals(true);  // what was not told yet, before the gateway stops
}

HttpApi::HttpApi(const Config& config, CallStore& store, EventLog& log, std::function<void()> wake,
                 const GatewayClock& clock)
    : server_(std::make_unique<Server>(config, store, log, std::move(wake), clock)) {}

HttpApi::~HttpApi() { Stop(); }

bool HttpApi::Bind(std::string& error, unsigned connections) {
  return server_->Bind(port_, plainPort_, connections, error);
}

bool HttpApi::Reload(std::string& error) { return server_->Reload(error); }

void HttpApi::Serve() { server_->Serve(); }

void HttpApi::Stop() {
  if (server_) server_->Stop();
}

}  // namespace talmery
