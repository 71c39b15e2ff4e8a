#include "gateway/sip_engine.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
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

SipEngine::SipEngine(const Config& config, EventLog& log)
    : config_(config), log_(log), aor_(AccountAor(config.sip)),
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

bool SipEngine::Open(std::string& error) {
  const SipSettings& s = config_.sip;
  // Each call holds an RTP and an RTCP socket; libre's default table of descriptors is smaller
  // than a busy office's calls.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max && files.rlim_cur < 8192) {
    files.rlim_cur = files.rlim_max < 8192 ? files.rlim_max : 8192;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  const int wanted = 4 * config_.maxCalls + 64;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
      static_cast<rlim_t>(wanted) > files.rlim_cur) {
    error = "max_calls = " + std::to_string(config_.maxCalls) + " needs " + std::to_string(wanted) +
            " open files; the limit is " + std::to_string(files.rlim_cur);
    return false;
  }
  fd_setsize(wanted < 1024 ? 1024 : wanted);

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
  if ((err = sipsess_listen(&sessions_, sip_, 32, Incoming, this)) != 0 ||
      (err = sip_listen(&options_, sip_, true, Request, this)) != 0 ||
      (err = mqueue_alloc(&wakeups_, Wakeup, this)) != 0) {
    error = std::string("cannot start the SIP stack: ") + std::strerror(err);
    return false;
  }
  return true;
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
  self->tlsRefusal_ = std::string("the PBX's certificate does not verify for ") + self->tlsHost_ + ": " +
                      X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
  self->log_.Write("tls", {{"refused", self->tlsRefusal_}});
  // The refusal closes its connection, and libre fails each request waiting on it from within
  // this same turn of the loop; by the next turn the verdict has said all it is about, and a
  // later connection that fails (a peer that speaks no TLS) must not be told it.
  if (self->refusalSpent_) tmr_start(self->refusalSpent_, 0, ForgetRefusal, self);
  return 0;
}

void SipEngine::ForgetRefusal(void* arg) { static_cast<SipEngine*>(arg)->tlsRefusal_.clear(); }

std::string SipEngine::TlsFailure(int err) const {
  if (!tls_ || !err || err == ETIMEDOUT || err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH) return "";
  if (!tlsRefusal_.empty()) return "TLS: " + tlsRefusal_;
  return std::string("TLS: the connection to the PBX failed before an answer: ") + std::strerror(err);
}

void SipEngine::Main() {
  tmr giveUp, refusalSpent;
  tmr_init(&giveUp);
  tmr_init(&refusalSpent);
  giveUp_ = &giveUp;
  refusalSpent_ = &refusalSpent;
  re_main(nullptr);
  tmr_cancel(&giveUp);
  tmr_cancel(&refusalSpent);
  giveUp_ = refusalSpent_ = nullptr;
  {
    std::lock_guard<std::mutex> lock(mu_);
    accepting_ = false;
  }
  Drain();  // what was posted while the stack closed still runs (and ends its sessions)
  Close();
  libre_close();
}

void SipEngine::Close() {
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

int SipEngine::Credentials(char** user, char** password, const char*, void* arg) {
  Asked* asked = static_cast<Asked*>(arg);
  if (++asked->times > 1) return EACCES;
  const SipSettings& s = asked->engine->config_.sip;
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
