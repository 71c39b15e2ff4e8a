#pragma once
// The gateway's SIP user agent, inside its own process: libre's stack (SIP over UDP and TCP on
// local_address:sip_port, or over TLS alone there when the PBX is reached over TLS; RTP within
// rtp_ports) on one thread of its own. libre is not thread safe, so nothing else touches its
// objects: the lines and the registration hand their work to that thread (Post, Run), and the
// thread hands events back through their own queues. There is no control channel: nothing but
// the SIP and RTP sockets is opened, and only SIP can reach it.
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateway/config.h"
#include "gateway/event_log.h"
#include "gateway/sip_rules.h"

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
struct udp_helper;
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
  // A call in progress, as the engine's gate asks it about its dialog (on the SIP thread).
  class Dialog {
   public:
    virtual ~Dialog() = default;
    // Whether the call's dialog has this Call-ID now (a redirect followed may give it another).
    virtual bool Owns(const std::string& callId) const = 0;
    // Whether `source` is the host the dialog was made with (the PBX's addresses pass anyway).
    virtual bool FromPeer(const struct sa& source) const = 0;
    // A redirect (3xx) of the call's INVITE, before the SIP stack follows it; false: not followed
    // (the call has ended itself).
    virtual bool Redirected(const struct sip_msg* msg) = 0;
    // The peer's BYE was let in. libre then ends the session with ECONNRESET and no message, the
    // same error a connection reset gives: this tells the two apart.
    virtual void ByeArrived() = 0;
  };

  // `openFiles`: the process's open-file limit (OpenFiles::limit), libre's descriptor table.
  SipEngine(const Config& config, EventLog& log, long openFiles);
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
  const Config& Settings() const { return config_; }
  EventLog& log() { return log_; }
  const std::string& Aor() const { return aor_; }
  const std::string& Contact() const { return contactUser_; }
  // Over TLS, why a request whose connection failed with `err` got no answer: the PBX's
  // certificate was refused (`refusal`: the host and OpenSSL's reason, told only to the requests
  // of the connection it ended), or the handshake failed otherwise. None without TLS, and for a
  // PBX that is down or out of reach, which passes.
  enum class TlsTrouble { None, Refused, Failed };
  TlsTrouble TlsTroubleOf(int err, std::string& refusal) const;
  // The same as the registration's words ("TLS: ...", "" for None).
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

  // The calls whose dialogs the gate knows (on the SIP thread).
  void AddDialog(Dialog* dialog);
  void RemoveDialog(Dialog* dialog);
  // Whether `address` is one of the PBX's: the hosts of dial, outbound_proxy and domain, names as
  // resolved at the start.
  bool IsPbx(const struct sa& address) const;
  const std::vector<std::string>& PbxAddresses() const { return pbxAddresses_; }
  // Writes `fields` under "sip" unless the same reason about the same address came within the
  // last minute (then it is counted, and the count told at the minute's end).
  void Complain(const struct sa& from, const std::string& reason, LogFields fields);

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
  static bool GateRequest(const struct sip_msg* msg, void* arg);
  friend struct TraceHook;  // libre's trace handler, which takes a type of libre's
  void Received(const struct sa& source, const uint8_t* packet, size_t size);
  static bool Unclaimed(const struct sip_msg* msg, void* arg);
  void GuardUdp(const struct sip_msg* msg);
  static bool Malformed(struct sa* source, struct mbuf* mb, void* arg);
  void TellRepeats(bool all);
  static void RepeatsDue(void* arg);
  void ResolvePbx();
  void ProbeUdp();
  void WatchTcp();
  static void ListenerStirs(int flags, void* arg);
  static void Sweep(void* arg);

  const Config& config_;
  EventLog& log_;
  const long openFiles_;
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
  struct sip_lsnr* gateRequests_ = nullptr;
  struct sip_lsnr* unclaimedRequests_ = nullptr;
  struct sip_lsnr* unclaimedResponses_ = nullptr;
  struct udp_helper* udpGuard_ = nullptr;
  std::string probeId_;  // the Call-ID of the OPTIONS the engine sends itself to find its UDP socket
  std::vector<Dialog*> dialogs_;
  Dialog* DialogOf(const std::string& callId) const;
  std::vector<std::string> pbxAddresses_;
  std::string challenger_;  // the address of the response being handled, for Credentials
  RefusalDigest complaints_{60000};  // what strangers sent: told once a minute per address and reason
  struct tmr* repeats_ = nullptr;  // these two on the SIP thread's stack too
  struct tmr* sweep_ = nullptr;
  int tcpListener_ = -1;  // libre's listening socket on sip_port (TCP or TLS)
  int tcpWatch_ = -1;     // an epoll of our own that wakes when it has a connection waiting
  long long lastSweepMs_ = 0;

  std::mutex mu_;
  std::deque<std::function<void()>> work_;
  bool accepting_ = false;
  std::thread thread_;
};

}  // namespace talmery
