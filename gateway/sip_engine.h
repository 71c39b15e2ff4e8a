#pragma once
// The gateway's SIP user agent, inside its own process: libre's stack (SIP over UDP and TCP on
// local_address:sip_port, or over TLS alone there when the PBX is reached over TLS; RTP within
// rtp_ports) on one thread of its own. libre is not thread safe, so nothing else touches its
// objects: the lines and the registration hand their work to that thread (Post, Run), and the
// thread hands events back through their own queues. There is no control channel: nothing but
// the SIP and RTP sockets is opened, and only SIP can reach it.
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "gateway/config.h"

struct sip;
struct sip_lsnr;
struct sipsess_sock;
struct sipsess;
struct sip_msg;
struct mqueue;
struct dnsc;
struct rtp_sock;
struct rtp_header;
struct mbuf;
struct sa;
struct tmr;
struct tls;
struct x509_store_ctx_st;
struct ssl_st;

namespace talmery {

class EventLog;

// Our address of record: sip:<user>@<domain>, or @<local address> without a PBX.
std::string AccountAor(const SipSettings& sip);

// The user part of our Contact: the user and a digest of what makes this gateway this gateway
// (account, domain, address, port). It stays the same across restarts, so that a PBX that
// remembers the last binding sees the same contact again instead of a new one per start. Nodes
// of a shared store add their node name ("200-gw1-3f2a91c0"), so that each registers a contact
// of its own.
std::string ContactUser(const SipSettings& sip, const std::string& node = "");

// The outbound proxy as libre's route: libre adds the loose-routing ";lr" itself, so a ";lr" of
// the configured URI is left out (else the Route would carry it twice); the other parameters
// (transport=tcp) stay.
std::string RouteOf(const std::string& proxy);

class SipEngine {
 public:
  SipEngine(const Config& config, EventLog& log);
  ~SipEngine();
  SipEngine(const SipEngine&) = delete;
  SipEngine& operator=(const SipEngine&) = delete;

  // Starts the SIP thread and binds the transports; false with the reason when it cannot.
  bool Start(std::string& error);
  // Lets what is under way end (the removal of a registration, a BYE) for up to five seconds,
  // then closes every socket and ends the thread.
  void Stop();

  // Queues `work` for the SIP thread; false (and `work` dropped) when the engine is not running.
  bool Post(std::function<void()> work);
  // Runs `work` on the SIP thread and waits for it; false when the engine is not running.
  bool Run(const std::function<void()>& work);

  // On the SIP thread only.
  struct sip* Stack() const { return sip_; }
  struct sipsess_sock* Sessions() const { return sessions_; }
  const Config& config() const { return config_; }
  EventLog& log() { return log_; }
  const std::string& Aor() const { return aor_; }
  const std::string& Contact() const { return contactUser_; }
  // What a request that got no answer because its connection failed with `err` says over TLS:
  // why the PBX's certificate was refused (told only to the requests of the connection it ended),
  // or that the handshake failed ("" without TLS, and for a PBX that is down or out of reach,
  // which passes).
  std::string TlsFailure(int err) const;
  // The outbound proxy as a route (none without one).
  const char** Routes(uint32_t& count);
  // An RTP socket (and RTCP on the port above) on the local address within rtp_ports.
  int ListenRtp(struct rtp_sock** rtp, void (*recvh)(const struct sa*, const struct rtp_header*, struct mbuf*, void*),
                void* arg);
  // Digest credentials for any realm: the configured user (or auth_user) and password, given
  // once until the next success. libre would answer every new nonce of a registrar that keeps
  // refusing (about 14 digests in a row with Kamailio); a second challenge means the password is
  // wrong. An Asked is a libre object, held by the request that may outlive its owner (the BYE,
  // the REGISTER that removes a binding): pass it with aref = true.
  struct Asked {
    SipEngine* engine;
    int times;
  };
  Asked* NewAsked();
  static int Credentials(char** user, char** password, const char* realm, void* asked);

 private:
  void Main();
  bool Open(std::string& error);
  void Close();
  void Drain();
  static void Wakeup(int id, void* data, void* arg);
  static void Incoming(const struct sip_msg* msg, void* arg);
  static bool Request(const struct sip_msg* msg, void* arg);
  static void Exited(void* arg);
  static void GiveUp(void* arg);
  bool OpenTls(const struct sa& local, std::string& error);
  static int VerifyPeer(struct x509_store_ctx_st* store, void* arg);
  static void ForgetRefusal(void* arg);
  static void HandshakeStarts(const struct ssl_st* ssl, int where, int ret);

  const Config& config_;
  EventLog& log_;
  const std::string aor_, contactUser_;
  std::string route_, tlsHost_, tlsRefusal_;
  const char* routes_[1] = {nullptr};

  struct sip* sip_ = nullptr;
  struct sipsess_sock* sessions_ = nullptr;
  struct sip_lsnr* options_ = nullptr;
  struct mqueue* wakeups_ = nullptr;
  struct dnsc* dns_ = nullptr;
  struct tmr* giveUp_ = nullptr;
  struct tls* tls_ = nullptr;
  struct tmr* refusalSpent_ = nullptr;  // both on the SIP thread's stack, in Main

  std::mutex mu_;
  std::deque<std::function<void()>> work_;
  bool accepting_ = false;
  std::thread thread_;
};

}  // namespace talmery
