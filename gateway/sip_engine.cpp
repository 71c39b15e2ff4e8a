#include "gateway/sip_engine.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <arpa/nameser.h>
#include <dirent.h>
#include <netdb.h>
#include <resolv.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>

#include "gateway/event_log.h"
#include "gateway/re_headers.h"

// libre's handle on its OpenSSL context (declared by re_tls.h only under its build's USE_OPENSSL).
extern "C" struct ssl_ctx_st* tls_openssl_context(const struct tls* tls);

namespace talmery {

std::string AccountAor(const SipSettings& sip) {
  return "sip:" + sip.user + "@" + (sip.domain.empty() ? sip.localAddress : sip.domain);
}

std::string ContactUser(const SipSettings& sip, const std::string& node) {
  // FNV-1a: stable across builds and machines, unlike std::hash.
  uint32_t hash = 2166136261u;
  const std::string identity = sip.user + "\n" + sip.domain + "\n" + sip.localAddress + "\n" +
                               std::to_string(sip.sipPort) + (node.empty() ? "" : "\n" + node);
  for (unsigned char c : identity) {
    hash ^= c;
    hash *= 16777619u;
  }
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", hash);
  return sip.user + "-" + (node.empty() ? "" : node + "-") + hex;
}

namespace {

std::string Text(const pl& p) { return std::string(p.p ? p.p : "", p.l); }

// An address as the log and the gate compare it: "192.0.2.1", "2001:db8::1".
std::string AddressText(const sa& address) {
  char text[64] = "";
  if (sa_ntop(&address, text, sizeof text) != 0) return "?";
  return text;
}

// A method as the log shows it: a SIP token (letters and '-'), cut short.
std::string MethodText(const pl& method) {
  std::string text;
  for (size_t i = 0; i < method.l && i < 16; ++i)
    text += std::isalpha(static_cast<unsigned char>(method.p[i])) || method.p[i] == '-' ? method.p[i] : '?';
  return text;
}

// Idle connections are looked for every 5 s (more often when they may idle less than 10 s), so
// that one is closed at most 5 s after its idle time is up.
uint64_t SweepEveryMs(const Config& config) {
  return static_cast<uint64_t>(std::clamp(config.sip.tcpIdleMs / 2, 50, 5000));
}

// The hosts a PBX's name leads to through its SRV records (RFC 3263: libre looks for them when an
// address names no port), for SIP over UDP, TCP and TLS. Each question waits 2 s at most, so that
// a start without a name server is not held up for long.
std::vector<std::string> SrvTargets(const std::string& host) {
  std::vector<std::string> targets;
  struct __res_state resolver {};
  if (res_ninit(&resolver) != 0) return targets;
  resolver.retrans = 2;
  resolver.retry = 1;
  for (const char* service : {"_sip._udp.", "_sip._tcp.", "_sips._tcp."}) {
    unsigned char answer[4096];
    const int size = res_nquery(&resolver, (service + host).c_str(), ns_c_in, ns_t_srv, answer, sizeof answer);
    ns_msg message;
    if (size <= 0 || ns_initparse(answer, size, &message) != 0) continue;
    for (int i = 0; i < ns_msg_count(message, ns_s_an); ++i) {
      ns_rr record;
      char target[NS_MAXDNAME];
      // An SRV record's data: priority, weight, port (2 bytes each), then the target's name.
      if (ns_parserr(&message, ns_s_an, i, &record) == 0 && ns_rr_type(record) == ns_t_srv && ns_rr_rdlen(record) > 6 &&
          dn_expand(ns_msg_base(message), ns_msg_end(message), ns_rr_rdata(record) + 6, target, sizeof target) > 0 &&
          std::find(targets.begin(), targets.end(), target) == targets.end())
        targets.push_back(target);
    }
  }
  res_nclose(&resolver);
  return targets;
}

// The host of "sip:user@host:port;params", "host:port" or "[v6]:port".
std::string HostOf(std::string uri) {
  if (uri.compare(0, 4, "sip:") == 0) uri = uri.substr(4);
  if (uri.compare(0, 5, "sips:") == 0) uri = uri.substr(5);
  const size_t at = uri.find('@');
  if (at != std::string::npos) uri = uri.substr(at + 1);
  uri = uri.substr(0, uri.find_first_of(";?>"));
  if (!uri.empty() && uri[0] == '[') return uri.substr(1, uri.find(']') - 1);
  return uri.substr(0, uri.find(':'));
}

bool IsAddress(const std::string& host) {
  sa probe{};
  return sa_set_str(&probe, host.c_str(), 0) == 0;
}

// A resolver (and its sockets) only when the PBX, the proxy or the dialled host is a name.
bool NeedsNames(const Config& config) {
  for (const std::string& uri : {config.sip.domain, config.sip.outboundProxy, config.DialTemplate()})
    if (!uri.empty() && !IsAddress(HostOf(uri))) return true;
  return false;
}

}  // namespace

std::string RouteOf(const std::string& proxy) {
  const size_t semi = proxy.find(';');
  std::string route = proxy.substr(0, semi);
  for (size_t at = semi; at != std::string::npos;) {
    const size_t next = proxy.find(';', at + 1);
    const std::string param = proxy.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    if (param != "lr" && param != "LR" && param.compare(0, 3, "lr=") != 0) route += ";" + param;
    at = next;
  }
  return route;
}

SipEngine::SipEngine(const Config& config, EventLog& log, long openFiles)
    : config_(config), log_(log), openFiles_(openFiles), aor_(AccountAor(config.sip)),
      contactUser_(ContactUser(config.sip, config.SharedStore() ? config.NodeName() : "")) {
  route_ = RouteOf(TransportUri(config.sip, config.sip.outboundProxy));
  // The certificate must name the first hop: the proxy, else the PBX, else the dialled host.
  for (const std::string& uri : {config.sip.outboundProxy, config.sip.domain, config.DialTemplate()}) {
    if (uri.empty()) continue;
    tlsHost_ = HostOf(uri);
    break;
  }
  routes_[0] = route_.c_str();
}

SipEngine::~SipEngine() { Stop(); }

const char** SipEngine::Routes(uint32_t& count) {
  count = route_.empty() ? 0 : 1;
  return route_.empty() ? nullptr : routes_;
}

bool SipEngine::Start(std::string& error) {
  std::promise<std::string> opened;
  std::future<std::string> result = opened.get_future();
  thread_ = std::thread([this, &opened] {
    std::string why;
    // libre's own warnings (a malformed message from anyone) would fill our log; what matters
    // reaches it through our handlers.
    if (libre_init() != 0) {
      opened.set_value("cannot start the SIP stack");
      return;
    }
    dbg_init(DBG_EMERG, DBG_NONE);
    if (!Open(why)) {
      Close();
      libre_close();
      opened.set_value(why);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      accepting_ = true;
    }
    opened.set_value("");
    Main();
  });
  error = result.get();
  if (!error.empty()) {
    thread_.join();
    return false;
  }
  return true;
}

// libre calls its trace handler for each message it receives, before its listeners, the
// transactions' among them (and for each it sends, which is of no interest here).
struct TraceHook {
  static void Traced(bool sent, enum sip_transp, const sa* source, const sa*, const uint8_t* packet, size_t size,
                     void* arg) {
    if (!sent) static_cast<SipEngine*>(arg)->Received(*source, packet, size);  // arg: sip_alloc's
  }
};

bool SipEngine::Open(std::string& error) {
  const SipSettings& s = config_.sip;
  // Each call holds an RTP and an RTCP socket, and each TCP connection to sip_port one more.
  // libre refuses every descriptor beyond its table ("Too many open files"), and its table is
  // sized once, by the first fd_setsize of this thread: as large as the process may have open
  // (TakeOpenFiles has raised the limit and checked that the lines fit).
  fd_setsize(static_cast<int>(openFiles_));

  sa local{};
  if (sa_set_str(&local, s.localAddress.c_str(), static_cast<uint16_t>(s.sipPort)) != 0) {
    error = "sip.local_address: " + s.localAddress + " is not an IP address";
    return false;
  }
  // Names (a PBX or proxy given by name) need the system's resolvers; addresses do not.
  if (NeedsNames(config_)) {
    sa servers[4];
    uint32_t count = 4;
    char domain[64] = "";
    if (dns_srv_get(domain, sizeof domain, servers, &count) != 0 || count == 0 ||
        dnsc_alloc(&dns_, nullptr, servers, count) != 0) {
      error = "the PBX is named, but no name server is configured here (/etc/resolv.conf)";
      return false;
    }
  }
  int err = sip_alloc(&sip_, dns_, 32, 32, 32, "talmery-gateway", Exited, this);
  if (err) {
    error = std::string("cannot start the SIP stack: ") + std::strerror(err);
    return false;
  }
  // Over TLS nothing is sent in clear, so nothing listens in clear either: TLS alone holds
  // sip_port (TCP).
  if (UsesTls(s)) {
    if (!OpenTls(local, error)) return false;
  } else if ((err = sip_transp_add(sip_, SIP_TRANSP_UDP, &local)) != 0 ||
             (err = sip_transp_add(sip_, SIP_TRANSP_TCP, &local)) != 0) {
    error = "cannot bind SIP to " + s.localAddress + ":" + std::to_string(s.sipPort) + ": " + std::strerror(err);
    return false;
  }
  // libre offers a message to its listeners in the order they were added: its own transaction
  // layers first (sip_alloc adds them; they take only retransmissions, and CANCELs and ACKs of
  // transactions already let in), then ours. So the gate sees every new request before the
  // sessions do, and what nobody took reaches Unclaimed, not libre's own stderr. Responses go to
  // their transactions first: the trace handler, which libre calls for every message it
  // receives before any listener, is where the gate sees them. (Should a later libre order them
  // otherwise, SipCallTest.AnIncomingCallIsDeclinedAndOptionsAreAnswered, SipDialog.* and
  // SipRedirect.* fail.)
  if ((err = sip_listen(&gateRequests_, sip_, true, GateRequest, this)) != 0 ||
      (err = sipsess_listen(&sessions_, sip_, 32, Incoming, this)) != 0 ||
      (err = sip_listen(&options_, sip_, true, Request, this)) != 0 ||
      (err = sip_listen(&unclaimedRequests_, sip_, true, Unclaimed, this)) != 0 ||
      (err = sip_listen(&unclaimedResponses_, sip_, false, Unclaimed, this)) != 0 ||
      (err = mqueue_alloc(&wakeups_, Wakeup, this)) != 0) {
    error = std::string("cannot start the SIP stack: ") + std::strerror(err);
    return false;
  }
  sip_set_trace_handler(sip_, TraceHook::Traced);
  ResolvePbx();
  WatchTcp();
  ProbeUdp();
  return true;
}

// The PBX's addresses: those of its hosts, and of the hosts their SRV records name.
void SipEngine::ResolvePbx() {
  for (const std::string& host : PbxHosts(config_)) {
    sa literal{};
    if (sa_set_str(&literal, host.c_str(), 0) == 0) {
      pbxAddresses_.push_back(AddressText(literal));
      continue;
    }
    std::vector<std::string> names = SrvTargets(host);
    names.insert(names.begin(), host);
    bool resolved = false;
    for (const std::string& name : names) {
      addrinfo hints{};
      hints.ai_socktype = SOCK_DGRAM;
      addrinfo* found = nullptr;
      if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) continue;
      resolved = true;
      for (addrinfo* a = found; a; a = a->ai_next) {
        sa address{};
        if (sa_set_sa(&address, a->ai_addr) != 0) continue;
        const std::string text = AddressText(address);
        if (std::find(pbxAddresses_.begin(), pbxAddresses_.end(), text) == pbxAddresses_.end())
          pbxAddresses_.push_back(text);
      }
      freeaddrinfo(found);
    }
    if (!resolved)
      log_.Write("sip", {{"pbx", host}, {"error", "the name does not resolve now; its addresses are not the PBX's"}});
  }
}

bool SipEngine::IsPbx(const sa& address) const {
  const std::string text = AddressText(address);
  return std::find(pbxAddresses_.begin(), pbxAddresses_.end(), text) != pbxAddresses_.end();
}

void SipEngine::AddDialog(Dialog* dialog) { dialogs_.push_back(dialog); }

void SipEngine::RemoveDialog(Dialog* dialog) { dialogs_.erase(std::remove(dialogs_.begin(), dialogs_.end(), dialog), dialogs_.end()); }

SipEngine::Dialog* SipEngine::DialogOf(const std::string& callId) const {
  for (Dialog* dialog : dialogs_)
    if (dialog->Owns(callId)) return dialog;
  return nullptr;
}

void SipEngine::Complain(const sa& from, const std::string& reason, LogFields fields) {
  if (complaints_.Note(AddressText(from), reason, NowMs())) log_.Write("sip", fields);
}

// How many more of each complaint came in its interval, once the interval is over (all of them at
// a stop).
void SipEngine::TellRepeats(bool all) {
  const std::string interval = std::to_string(complaints_.IntervalMs() / 1000) + "s";
  for (const RefusalDigest::Summary& s : complaints_.Due(NowMs(), all))
    log_.Write("sip", {{"from", s.address}, {"reason", s.reason}, {"repeated", std::to_string(s.repeated)},
                       {"interval", interval}});
}

void SipEngine::RepeatsDue(void* arg) {
  SipEngine* self = static_cast<SipEngine*>(arg);
  self->TellRepeats(false);
  tmr_start(self->repeats_, 5000, RepeatsDue, self);
}

// Every request but a retransmission of one already let in reaches the gate first. Requests of a
// call's dialog (a BYE, an INFO with a key, a re-INVITE that moves the media) are taken only
// from the host the dialog was made with or the PBX: anyone else who learnt the Call-ID gets
// 403. Requests of no dialog of ours are answered here, once, without a transaction (a
// stranger's INVITE 603, its ACK nothing), so that libre neither repeats the answer nor writes
// the stranger's request line to the log.
bool SipEngine::GateRequest(const sip_msg* msg, void* arg) {
  SipEngine* self = static_cast<SipEngine*>(arg);
  self->GuardUdp(msg);
  const std::string callId = Text(msg->callid);
  if (!self->probeId_.empty() && callId == self->probeId_) {
    self->probeId_.clear();
    return true;
  }
  const bool ack = pl_strcmp(&msg->met, "ACK") == 0;
  Dialog* dialog = self->DialogOf(callId);
  if (!dialog) {
    if (pl_strcmp(&msg->met, "OPTIONS") == 0) return false;  // answered by Request
    if (ack) return true;
    if (pl_strcmp(&msg->met, "INVITE") == 0 && !msg->to.tag.l) sip_reply(self->sip_, msg, 603, "Decline");
    else if (msg->to.tag.l) sip_reply(self->sip_, msg, 481, "Call/Transaction Does Not Exist");
    else sip_reply(self->sip_, msg, 405, "Method Not Allowed");
    return true;
  }
  if (self->IsPbx(msg->src) || dialog->FromPeer(msg->src)) {
    if (pl_strcmp(&msg->met, "BYE") == 0) dialog->ByeArrived();
    for (const char* known : {"INVITE", "ACK", "BYE", "CANCEL", "INFO"})
      if (pl_strcmp(&msg->met, known) == 0) return false;
    sip_reply(self->sip_, msg, 501, "Not Implemented");
    return true;
  }
  const std::string method = pl_strcmp(&msg->met, "INVITE") == 0 ? "re-INVITE" : MethodText(msg->met);
  if (!ack) sip_reply(self->sip_, msg, 403, "Forbidden");
  char from[80];
  re_snprintf(from, sizeof from, "%J", &msg->src);
  self->Complain(msg->src, "not from the call's peer or the PBX",
                 {{"refused", method}, {"from", from}, {"reason", "not from the call's peer or the PBX"}});
  return true;
}

// A response's source is noted for Credentials, and a redirect of a call's INVITE is put to the
// call before libre follows it.
void SipEngine::Received(const sa& source, const uint8_t* packet, size_t size) {
  static constexpr char kResponse[] = "SIP/2.0 ";
  constexpr size_t kStatusAt = sizeof kResponse - 1;
  if (size <= kStatusAt || std::memcmp(packet, kResponse, kStatusAt) != 0) return;
  challenger_ = AddressText(source);
  if (packet[kStatusAt] != '3' || dialogs_.empty()) return;
  // (The message keeps a reference to its buffer: one of libre's own.)
  mbuf* copy = mbuf_alloc(size);
  if (!copy || mbuf_write_mem(copy, packet, size) != 0) {
    mem_deref(copy);
    return;
  }
  copy->pos = 0;
  sip_msg* msg = nullptr;
  if (sip_msg_decode(&msg, copy) == 0 && pl_strcmp(&msg->cseq.met, "INVITE") == 0) {
    if (Dialog* dialog = DialogOf(Text(msg->callid))) dialog->Redirected(msg);
  }
  mem_deref(msg);
  mem_deref(copy);
}

// What no listener took. libre would write it to stderr as it came (a request's method and URI, a
// response's status and reason phrase, control bytes and all), so it never gets there: a request
// gets libre's own answer (481 to a CANCEL, 501 otherwise), a response is dropped, and either
// is logged like the gate's refusals.
bool SipEngine::Unclaimed(const sip_msg* msg, void* arg) {
  SipEngine* self = static_cast<SipEngine*>(arg);
  char from[80];
  re_snprintf(from, sizeof from, "%J", &msg->src);
  if (!msg->req) {
    self->Complain(msg->src, "a response to no request of ours",
                   {{"dropped", "response"}, {"from", from}, {"status", std::to_string(msg->scode)},
                    {"reason", "a response to no request of ours"}});
    return true;
  }
  if (pl_strcmp(&msg->met, "CANCEL") == 0) sip_reply(self->sip_, msg, 481, "Transaction Does Not Exist");
  else if (pl_strcmp(&msg->met, "ACK") != 0) sip_reply(self->sip_, msg, 501, "Not Implemented");
  self->Complain(msg->src, "no call or transaction of ours",
                 {{"refused", MethodText(msg->met)}, {"from", from}, {"reason", "no call or transaction of ours"}});
  return true;
}

// The guard goes on libre's UDP socket with the first message that came on it (the engine's own
// OPTIONS, at the start).
void SipEngine::GuardUdp(const sip_msg* msg) {
  if (msg->tp != SIP_TRANSP_UDP || udpGuard_ || !msg->sock) return;
  udp_register_helper(&udpGuard_, static_cast<udp_sock*>(msg->sock), 0, nullptr, Malformed, this);
}

// libre keeps its UDP socket to itself and writes whatever does not parse to stderr, unthrottled,
// with no word of who sent it. The one way to its socket is a message it received: the engine
// sends itself an OPTIONS with a Call-ID of its own, and the gate puts a guard on the socket it
// came on.
void SipEngine::ProbeUdp() {
  if (UsesTls(config_.sip)) return;  // nothing listens on UDP
  char id[40];
  re_snprintf(id, sizeof id, "probe-%016llx", static_cast<unsigned long long>(rand_u64()));
  probeId_ = id;
  sa to{};
  sa_set_str(&to, config_.sip.localAddress.c_str(), static_cast<uint16_t>(config_.sip.sipPort));
  if (!sa_isset(&to, SA_ADDR)) sa_set_str(&to, sa_af(&to) == AF_INET6 ? "::1" : "127.0.0.1", sa_port(&to));
  mbuf* probe = mbuf_alloc(512);
  if (!probe) return;
  mbuf_printf(probe,
              "OPTIONS sip:probe@%J SIP/2.0\r\nVia: SIP/2.0/UDP %J;branch=z9hG4bK%s\r\nFrom: <sip:probe@%J>;tag=p\r\n"
              "To: <sip:probe@%J>\r\nCall-ID: %s\r\nCSeq: 1 OPTIONS\r\nMax-Forwards: 0\r\nContent-Length: 0\r\n\r\n",
              &to, &to, id, &to, &to, id);
  probe->pos = 0;
  udp_send_anon(&to, probe);
  mem_deref(probe);
}

// What does not parse as SIP (nor as STUN, which libre answers) is dropped here: logged once per
// address and reason a minute, never as the bytes that came. libre itself would write a line
// to stderr for each, with no word of who sent it. Datagrams of up to 4 bytes (keep-alives) libre
// drops without a word.
bool SipEngine::Malformed(sa* source, mbuf* mb, void* arg) {
  SipEngine* self = static_cast<SipEngine*>(arg);
  if (mbuf_get_left(mb) <= 4) return false;
  const size_t pos = mb->pos;
  stun_msg* stun = nullptr;
  const bool isStun = stun_msg_decode(&stun, mb, nullptr) == 0;
  mem_deref(stun);
  mb->pos = pos;
  if (isStun) return false;
  sip_msg* msg = nullptr;
  const int err = sip_msg_decode(&msg, mb);
  mem_deref(msg);
  mb->pos = pos;
  if (!err) return false;
  const std::string reason = err == EBADMSG ? "not a SIP message" : err == ENODATA ? "no end of the header" : std::strerror(err);
  self->Complain(*source, reason, {{"malformed", "udp"}, {"from", AddressText(*source)}, {"reason", reason}});
  return true;
}

// TCP connections that others open to sip_port cost a descriptor each, and libre keeps an idle
// one 15 minutes: the engine watches the listening socket (an epoll of its own beside libre's)
// and, soon after each new connection and every 5 s, closes what one address holds beyond its
// share and what has been idle for 50 s.
void SipEngine::WatchTcp() {
  sa local{};
  sa_set_str(&local, config_.sip.localAddress.c_str(), static_cast<uint16_t>(config_.sip.sipPort));
  DIR* fds = opendir("/proc/self/fd");
  if (!fds) return;
  while (dirent* e = readdir(fds)) {
    const int fd = std::atoi(e->d_name);
    int listening = 0, type = 0;
    socklen_t size = sizeof listening;
    if (fd <= 2 || getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening) continue;
    size = sizeof type;
    sa bound{};
    bound.len = sizeof bound.u;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM ||
        getsockname(fd, &bound.u.sa, &bound.len) != 0 || !sa_cmp(&bound, &local, SA_ALL))
      continue;
    tcpListener_ = fd;
    break;
  }
  closedir(fds);
  if (tcpListener_ < 0) return;
  // libre listens with a backlog of 5: a burst of connections from anyone then fills it, and the
  // PBX's own connection waits behind them for the kernel's SYN retries (1 s, 3 s, 7 s, ...).
  // listen() again only sets the backlog of the listening socket.
  listen(tcpListener_, SOMAXCONN);
  tcpWatch_ = epoll_create1(EPOLL_CLOEXEC);
  epoll_event wake{};
  wake.events = EPOLLIN;
  if (tcpWatch_ < 0 || epoll_ctl(tcpWatch_, EPOLL_CTL_ADD, tcpListener_, &wake) != 0 ||
      fd_listen(tcpWatch_, FD_READ, ListenerStirs, this) != 0) {
    if (tcpWatch_ >= 0) close(tcpWatch_);
    tcpWatch_ = -1;
  }
}

void SipEngine::ListenerStirs(int, void* arg) {
  SipEngine* self = static_cast<SipEngine*>(arg);
  if (!self->sweep_) return;
  // libre accepts the connection in this same turn of the loop; the sweep comes after it, at most
  // ten times a second.
  const long long since = NowMs() - self->lastSweepMs_;
  const uint64_t soon = since >= 100 ? 0 : static_cast<uint64_t>(100 - since);
  if (!tmr_isrunning(self->sweep_) || tmr_get_expire(self->sweep_) > soon) tmr_start(self->sweep_, soon, Sweep, self);
}

void SipEngine::Sweep(void* arg) {
  SipEngine* self = static_cast<SipEngine*>(arg);
  self->lastSweepMs_ = NowMs();
  tmr_start(self->sweep_, SweepEveryMs(self->config_), Sweep, self);
  sa local{};
  sa_set_str(&local, self->config_.sip.localAddress.c_str(), static_cast<uint16_t>(self->config_.sip.sipPort));
  std::vector<InboundConnection> inbound;
  DIR* fds = opendir("/proc/self/fd");
  if (!fds) return;
  while (dirent* e = readdir(fds)) {
    const int fd = std::atoi(e->d_name);
    if (fd <= 2 || fd == self->tcpListener_) continue;
    sa mine{}, peer{};
    mine.len = peer.len = sizeof mine.u;
    int type = 0;
    socklen_t size = sizeof type;
    if (getsockname(fd, &mine.u.sa, &mine.len) != 0 || !sa_cmp(&mine, &local, SA_ALL) ||
        getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM ||
        getpeername(fd, &peer.u.sa, &peer.len) != 0)
      continue;
    tcp_info info{};
    size = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) continue;
    inbound.push_back({fd, AddressText(peer), std::min(info.tcpi_last_data_recv, info.tcpi_last_data_sent)});
  }
  closedir(fds);
  const size_t share = static_cast<size_t>(TcpConnectionsPerAddress(self->config_));
  std::map<std::string, std::pair<int, int>> closed;  // per address: beyond its share, idle
  for (const ConnectionCut& cut : ConnectionsToCut(inbound, share, self->config_.sip.tcpIdleMs)) {
    shutdown(cut.fd, SHUT_RDWR);  // libre reads the end and closes the connection itself
    ++(cut.idle ? closed[cut.peer].second : closed[cut.peer].first);
  }
  for (const auto& [peer, counts] : closed) {
    if (counts.first == 0) continue;  // idle ones go without a word
    sa from{};
    sa_set_str(&from, peer.c_str(), 0);
    self->Complain(from, "too many TCP connections",
                   {{"closed", "tcp"}, {"from", peer}, {"connections", std::to_string(counts.first)},
                    {"reason", "more than " + std::to_string(share) + " connections from one address"}});
  }
}

// SIP over TLS on sip_port. The PBX's certificate is checked here, not by libre: its own check
// takes any certificate, and one that does not verify must end the handshake before the first
// request (and its digest or SDP) is written.
bool SipEngine::OpenTls(const sa& local, std::string& error) {
  const SipSettings& s = config_.sip;
  // Our own certificate, when given, lets the PBX open connections of its own to our Contact
  // (for a BYE or re-INVITE); without one only the connections we open carry SIP.
  const char* ours = s.tlsCertificate.empty() ? nullptr : s.tlsCertificate.c_str();
  int err = tls_alloc(&tls_, TLS_METHOD_SSLV23, ours, nullptr);
  if (err && ours) {
    error = "sip.tls_certificate: cannot read a certificate and its private key from " + s.tlsCertificate;
    return false;
  }
  if (err) {
    error = std::string("cannot start TLS: ") + std::strerror(err);
    return false;
  }
  ssl_ctx_st* context = tls_openssl_context(tls_);
  if (!s.tlsCaFile.empty()) {
    if (tls_add_ca(tls_, s.tlsCaFile.c_str()) != 0) {
      error = "sip.tls_ca_file: cannot read certificates from " + s.tlsCaFile;
      return false;
    }
  } else if (SSL_CTX_set_default_verify_paths(context) != 1) {
    error = "cannot read the system's certificate store";
    return false;
  }
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_cert_verify_callback(context, VerifyPeer, this);
  SSL_CTX_set_app_data(context, this);
  SSL_CTX_set_info_callback(context, HandshakeStarts);
  if ((err = sip_transp_add(sip_, SIP_TRANSP_TLS, &local, tls_)) != 0) {
    error = "cannot bind SIP over TLS to " + s.localAddress + ":" + std::to_string(s.sipPort) + ": " +
            std::strerror(err);
    return false;
  }
  return true;
}

namespace {
int KeepVerdict(int ok, X509_STORE_CTX*) { return ok; }
}  // namespace

// Before the first handshake message. Ours: libre names no server in its ClientHello, and a PBX
// that serves several names by SNI would show its default certificate, which then does not
// verify (literal addresses are never named: RFC 6066, 3). The PBX's: it is asked for no
// certificate; what it may send is bound to a call we placed.
void SipEngine::HandshakeStarts(const ssl_st* ssl, int where, int) {
  if (!(where & SSL_CB_HANDSHAKE_START)) return;
  SSL* connection = const_cast<SSL*>(ssl);
  const SipEngine* self = static_cast<const SipEngine*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(connection)));
  if (SSL_is_server(connection))
    SSL_set_verify(connection, SSL_VERIFY_NONE, nullptr);
  else if (!IsAddress(self->tlsHost_))
    SSL_set_tlsext_host_name(connection, self->tlsHost_.c_str());
}

// The chain against the CA store and the PBX's name (or address) against the certificate;
// tls_verify = no takes any certificate. Called by OpenSSL on the SIP thread.
int SipEngine::VerifyPeer(x509_store_ctx_st* store, void* arg) {
  SipEngine* self = static_cast<SipEngine*>(arg);
  if (!self->config_.sip.tlsVerify) return 1;
  X509_STORE_CTX_set_verify_cb(store, KeepVerdict);  // not libre's, which forgives every error
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(store);
  if (IsAddress(self->tlsHost_))
    X509_VERIFY_PARAM_set1_ip_asc(param, self->tlsHost_.c_str());
  else
    X509_VERIFY_PARAM_set1_host(param, self->tlsHost_.c_str(), 0);
  if (X509_verify_cert(store) == 1) return 1;
  self->tlsRefusal_ = self->tlsHost_ + ": " + X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
  self->log_.Write("tls", {{"refused", "the PBX's certificate does not verify for " + self->tlsRefusal_}});
  // The refusal closes its connection, and libre fails each request waiting on it from within
  // this same turn of the loop; by the next turn the verdict has said all it is about, and a
  // later connection that fails (a peer that speaks no TLS) must not be told it.
  if (self->refusalSpent_) tmr_start(self->refusalSpent_, 0, ForgetRefusal, self);
  return 0;
}

void SipEngine::ForgetRefusal(void* arg) { static_cast<SipEngine*>(arg)->tlsRefusal_.clear(); }

SipEngine::TlsTrouble SipEngine::TlsTroubleOf(int err, std::string& refusal) const {
  if (!tls_ || !err || err == ETIMEDOUT || err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH)
    return TlsTrouble::None;
  refusal = tlsRefusal_;
  return tlsRefusal_.empty() ? TlsTrouble::Failed : TlsTrouble::Refused;
}

std::string SipEngine::TlsFailure(int err) const {
  std::string refusal;
  switch (TlsTroubleOf(err, refusal)) {
    case TlsTrouble::None: return "";
    case TlsTrouble::Refused: return "TLS: the PBX's certificate does not verify for " + refusal;
    case TlsTrouble::Failed: break;
  }
  return std::string("TLS: the connection to the PBX failed before an answer: ") + std::strerror(err);
}

void SipEngine::Main() {
  tmr giveUp, refusalSpent, repeats, sweep;
  for (tmr* t : {&giveUp, &refusalSpent, &repeats, &sweep}) tmr_init(t);
  giveUp_ = &giveUp;
  refusalSpent_ = &refusalSpent;
  repeats_ = &repeats;
  sweep_ = &sweep;
  if (tcpWatch_ >= 0) tmr_start(sweep_, SweepEveryMs(config_), Sweep, this);
  tmr_start(repeats_, 5000, RepeatsDue, this);
  re_main(nullptr);
  for (tmr* t : {&giveUp, &refusalSpent, &repeats, &sweep}) tmr_cancel(t);
  TellRepeats(true);
  giveUp_ = refusalSpent_ = repeats_ = sweep_ = nullptr;
  {
    std::lock_guard<std::mutex> lock(mu_);
    accepting_ = false;
  }
  Drain();  // what was posted while the stack closed still runs (and ends its sessions)
  Close();
  libre_close();
}

void SipEngine::Close() {
  if (tcpWatch_ >= 0) {
    fd_close(tcpWatch_);
    close(tcpWatch_);
    tcpWatch_ = -1;
  }
  udpGuard_ = static_cast<udp_helper*>(mem_deref(udpGuard_));
  gateRequests_ = static_cast<sip_lsnr*>(mem_deref(gateRequests_));
  unclaimedRequests_ = static_cast<sip_lsnr*>(mem_deref(unclaimedRequests_));
  unclaimedResponses_ = static_cast<sip_lsnr*>(mem_deref(unclaimedResponses_));
  options_ = static_cast<sip_lsnr*>(mem_deref(options_));
  sessions_ = static_cast<sipsess_sock*>(mem_deref(sessions_));
  if (sip_) sip_close(sip_, true);
  sip_ = static_cast<struct sip*>(mem_deref(sip_));
  wakeups_ = static_cast<mqueue*>(mem_deref(wakeups_));
  dns_ = static_cast<dnsc*>(mem_deref(dns_));
  tls_ = static_cast<struct tls*>(mem_deref(tls_));
}

void SipEngine::Stop() {
  if (!thread_.joinable()) return;
  // Closing lets the transactions under way finish (the REGISTER that removes the binding waits
  // for its answer); Exited ends the loop when they have, the timer when they take too long.
  Post([this] {
    sip_close(sip_, false);
    tmr_start(giveUp_, 5000, GiveUp, nullptr);
  });
  thread_.join();
}

bool SipEngine::Post(std::function<void()> work) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!accepting_) return false;
  work_.push_back(std::move(work));
  if (work_.size() == 1) mqueue_push(wakeups_, 0, nullptr);
  return true;
}

bool SipEngine::Run(const std::function<void()>& work) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  if (!Post([&] {
        work();
        done.set_value();
      }))
    return false;
  finished.wait();
  return true;
}

void SipEngine::Drain() {
  for (;;) {
    std::deque<std::function<void()>> batch;
    {
      std::lock_guard<std::mutex> lock(mu_);
      batch.swap(work_);
    }
    if (batch.empty()) return;
    for (auto& work : batch) work();
  }
}

void SipEngine::Wakeup(int, void*, void* arg) { static_cast<SipEngine*>(arg)->Drain(); }

void SipEngine::Exited(void*) { re_cancel(); }

void SipEngine::GiveUp(void*) { re_cancel(); }

// Nobody should call the gateway; should someone (the PBX routes to our registration), the call
// is declined rather than left ringing.
void SipEngine::Incoming(const sip_msg* msg, void* arg) {
  SipEngine* self = static_cast<SipEngine*>(arg);
  sip_treply(nullptr, self->sip_, msg, 603, "Decline");
}

SipEngine::Asked* SipEngine::NewAsked() {
  Asked* asked = static_cast<Asked*>(mem_zalloc(sizeof(Asked), nullptr));
  if (asked) asked->engine = this;
  return asked;
}

// A PBX that watches its registered contacts asks them OPTIONS now and then: a 200 says we are
// there (libre alone answers 501, which some take for a dead contact).
bool SipEngine::Request(const sip_msg* msg, void* arg) {
  if (pl_strcmp(&msg->met, "OPTIONS") != 0) return false;
  sip_treplyf(nullptr, nullptr, static_cast<SipEngine*>(arg)->sip_, msg, false, 200, "OK",
              "Allow: INVITE, ACK, BYE, CANCEL, INFO, OPTIONS\r\nAccept: application/sdp\r\nContent-Length: 0\r\n\r\n");
  return true;
}

// Only the PBX gets a digest: a challenge from any other host (a redirect's, a callee's that
// answers our BYE with 401) or, with `realm` set, of another realm, is not answered.
int SipEngine::Credentials(char** user, char** password, const char* realm, void* arg) {
  Asked* asked = static_cast<Asked*>(arg);
  if (++asked->times > 1) return EACCES;
  SipEngine* engine = asked->engine;
  const SipSettings& s = engine->config_.sip;
  const bool fromPbx = std::find(engine->pbxAddresses_.begin(), engine->pbxAddresses_.end(), engine->challenger_) !=
                       engine->pbxAddresses_.end();
  if (!fromPbx || (!s.realm.empty() && s.realm != (realm ? realm : ""))) {
    sa from{};
    sa_set_str(&from, engine->challenger_.c_str(), 0);
    const std::string why = fromPbx ? "the realm is not " + s.realm : "not from the PBX";
    engine->Complain(from, why,
                     {{"refused", "challenge"}, {"from", engine->challenger_}, {"realm", realm ? realm : ""}, {"reason", why}});
    return EACCES;
  }
  const int err = str_dup(user, (s.authUser.empty() ? s.user : s.authUser).c_str());
  return err ? err : str_dup(password, s.password.c_str());
}

int SipEngine::ListenRtp(struct rtp_sock** rtp, void (*recvh)(const sa*, const rtp_header*, mbuf*, void*), void* arg) {
  sa local{};
  sa_set_str(&local, config_.sip.localAddress.c_str(), 0);
  // RTCP takes the port above RTP's: the highest port of the range is left to it.
  return rtp_listen(rtp, IPPROTO_UDP, &local, static_cast<uint16_t>(config_.sip.rtpPortFirst),
                    static_cast<uint16_t>(config_.sip.rtpPortLast - 1), true, recvh, nullptr, arg);
}

}  // namespace talmery
