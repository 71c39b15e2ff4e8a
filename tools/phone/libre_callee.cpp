#include "tools/phone/libre_callee.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <openssl/rand.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "gateway/audio.h"
#include "gateway/re_headers.h"
#include "gateway/sdes.h"

// libre's handle on its OpenSSL context (declared by re_tls.h only under its build's USE_OPENSSL).
extern "C" struct ssl_ctx_st* tls_openssl_context(const struct tls* tls);

namespace bench {
namespace {

int NoteServerName(SSL* ssl, int*, void* arg) {
  if (const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name)) *static_cast<std::string*>(arg) = name;
  return SSL_TLSEXT_ERR_OK;
}

// <dir>/keys-<number>.txt: one "<ms after the answer> <what>" a line, what being a key (0-9, *,
// #) sent as an RFC 4733 event, "info:<key>" as a SIP INFO, or "bye" to hang up; in time order.
struct Action {
  int ms = 0;
  std::string what;
};

std::vector<Action> ReadActions(const std::string& path) {
  std::vector<Action> actions;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Action a;
    if (fields >> a.ms >> a.what) actions.push_back(a);
  }
  return actions;
}

}  // namespace

struct LibreCallee::Call {
  LibreCallee* owner = nullptr;
  struct sipsess* session = nullptr;
  struct rtp_sock* rtp = nullptr;
  struct rtp_sock* moved = nullptr;  // where a re-INVITE moves the media, until its answer
  struct srtp* tx = nullptr;
  struct srtp* rx = nullptr;
  struct srtp* nextTx = nullptr;  // the key a re-INVITE offers, used from its answer on
  std::string theirs;             // the caller's key and salt, in rx
  int rekeys = 0;                 // re-INVITEs sent (5550104, 5550105)
  sdp_session* sdp = nullptr;
  sdp_media* media = nullptr;
  std::vector<int16_t> samples;
  bool started = false;
  uint32_t firstTs = 0;
  char key = 0;
  bool byInfo = false;
  bool rekeying = false;
  bool hangsUp = false;  // 5550106: BYE 1.5 s after the answer
  std::vector<int16_t> play;      // <dir>/play-<number>.wav, sent from the answer on, then silence
  size_t played = 0;
  uint32_t sendTs = 0x20000;      // of our audio (and of our keys, which take their time from it)
  uint64_t nextPacket = 0;
  std::vector<Action> actions;    // <dir>/keys-<number>.txt
  std::string scripted;           // the number, when it has either file: its recording is named after it too
  size_t nextAction = 0;
  tmr press, rekey, audio, act;
  sa remote{};
  sa caller{};  // the far end of the TLS connection the INVITE came on
  int eventPt = 101;

  Call() {
    tmr_init(&press);
    tmr_init(&rekey);
    tmr_init(&audio);
    tmr_init(&act);
  }
  ~Call() {
    tmr_cancel(&press);
    tmr_cancel(&rekey);
    tmr_cancel(&audio);
    tmr_cancel(&act);
    mem_deref(session);
    mem_deref(rtp);  // and the helpers its sockets own
    mem_deref(moved);
    mem_deref(tx);
    mem_deref(rx);
    mem_deref(nextTx);
    mem_deref(sdp);
  }

  // An SRTP offer (over TLS) gets SRTP with a key of the callee's own; what does not decrypt
  // with the caller's key is not recorded, so a recording proves the caller's protection.
  // 5550488 answers without a key.
  int Protect(const std::string& number) {
    const char* crypto = sdp_media_rattr(media, "crypto");
    std::string why;
    if (!crypto || !talmery::SdesKeyOf(crypto, theirs, why)) return EPROTO;
    int err = srtp_alloc(&rx, SRTP_AES_CM_128_HMAC_SHA1_80, reinterpret_cast<const uint8_t*>(theirs.data()),
                         theirs.size(), 0);
    if (!err) err = NewKey(&tx, std::atoi(crypto), number != "5550488");
    if (!err) err = Guard(rtp);
    return err;
  }
  // A fresh key of ours, in the a=crypto line under `tag` when `offered`.
  int NewKey(struct srtp** ctx, int tag, bool offered) {
    unsigned char key[talmery::kSdesKeyBytes];
    if (RAND_bytes(key, sizeof key) != 1) return EIO;
    int err = srtp_alloc(ctx, SRTP_AES_CM_128_HMAC_SHA1_80, key, sizeof key, 0);
    if (!err && offered)
      err = sdp_media_set_lattr(media, true, "crypto", "%s",
                                talmery::SdesCrypto(tag, std::string(reinterpret_cast<const char*>(key), sizeof key))
                                    .c_str());
    return err;
  }
  // SRTP on the RTP socket, and the RTCP socket's SRTCP counted: what authenticates with the
  // caller's key, and anything else (in clear, or under another key), which is dropped.
  int Guard(struct rtp_sock* sock) {
    int err = udp_register_helper(nullptr, static_cast<udp_sock*>(rtp_sock(sock)), 0, Encrypt, Decrypt, this);
    if (!err)
      err = udp_register_helper(nullptr, static_cast<udp_sock*>(rtcp_sock(sock)), 0, nullptr, DecryptRtcp, this);
    return err;
  }
  static bool Encrypt(int* err, sa*, mbuf* mb, void* arg) {
    *err = srtp_encrypt(static_cast<Call*>(arg)->tx, mb);
    return false;
  }
  static bool Decrypt(sa*, mbuf* mb, void* arg) { return srtp_decrypt(static_cast<Call*>(arg)->rx, mb) != 0; }
  static bool DecryptRtcp(sa*, mbuf* mb, void* arg) {
    Call* self = static_cast<Call*>(arg);
    const bool ok = srtcp_decrypt(self->rx, mb) == 0;
    ++(ok ? self->owner->srtcp_ : self->owner->unauthenticated_);
    return !ok;
  }

  // 5550104 and 5550105: half a second after the answer a re-INVITE whose only key is of a suite
  // the caller does not take (it answers 488 and the call goes on), half a second later one with
  // a fresh key under tag 2 and the media on a new RTP socket. Its answer must carry the
  // caller's key under tag 2; from then on our packets use the new key and the old socket is
  // closed, so the recording goes on only if the caller followed both.
  static void Rekey(void* arg) {
    Call* self = static_cast<Call*>(arg);
    int err = 0;
    if (self->rekeys++ == 0) {
      // 5550104 sends back on the connection our INVITE came on, as most PBXs do for a TLS
      // client; 5550105 (which presses a key) opens one of its own to the caller's Contact, as a
      // strict one does, which the caller takes only with a certificate of its own.
      if (!self->key) err = self->ReuseConnection();
      if (!err) err = sdp_media_set_lattr(self->media, true, "crypto", "%s",
                                "1 AES_CM_128_HMAC_SHA1_32 inline:MDEyMzQ1Njc4OWFiY2RlZkFCQ0RFRkdISUpLTE1O");
      tmr_start(&self->rekey, 500, Rekey, self);
    } else {
      sa address = *rtp_local(self->rtp);
      sa_set_port(&address, 0);
      err = rtp_listen(&self->moved, IPPROTO_UDP, &address, static_cast<uint16_t>(self->owner->rtpFirst_),
                       static_cast<uint16_t>(self->owner->rtpLast_), true, Received, nullptr, self);
      if (!err) err = self->Guard(self->moved);
      if (!err) err = self->NewKey(&self->nextTx, 2, true);
      if (!err) {
        sdp_media_set_lport(self->media, sa_port(rtp_local(self->moved)));
        sdp_media_set_lport_rtcp(self->media, static_cast<uint16_t>(sa_port(rtp_local(self->moved)) + 1));
      }
    }
    mbuf* offer = nullptr;
    if (!err) err = sdp_encode(&offer, self->sdp, true);
    if (!err) err = sipsess_modify(self->session, offer);
    mem_deref(offer);
    if (err) std::fprintf(stderr, "callee: re-INVITE: %s\n", std::strerror(err));
  }

  // Requests to the caller back on the connection its INVITE came on, as a PBX does for a TLS
  // client: the dialog's target becomes the address of that connection's far end.
  int ReuseConnection() {
    if (!sa_isset(&caller, SA_ALL)) return 0;
    mbuf* fake = mbuf_alloc(256);
    if (!fake) return ENOMEM;
    int err = mbuf_printf(fake, "SIP/2.0 200 OK\r\nContact: <sip:caller@%J;transport=tls>\r\n\r\n", &caller);
    fake->pos = 0;
    sip_msg* msg = nullptr;
    if (!err) err = sip_msg_decode(&msg, fake);
    if (!err) err = sip_dialog_update(sipsess_dialog(session), msg);
    mem_deref(msg);
    mem_deref(fake);
    return err;
  }

  // The answer to the second re-INVITE: the caller's key under our tag 2, or nothing more is
  // recorded.
  void Rekeyed() {
    if (!moved || !nextTx) return;
    const char* crypto = sdp_media_rattr(media, "crypto");
    std::string caller, why;
    if (!crypto || std::atoi(crypto) != 2 || !talmery::SdesKeyOf(crypto, caller, why)) {
      rx = static_cast<struct srtp*>(mem_deref(rx));
    } else if (caller != theirs) {  // a new key of the caller's: a context of its own
      rx = static_cast<struct srtp*>(mem_deref(rx));
      theirs = caller;
      if (srtp_alloc(&rx, SRTP_AES_CM_128_HMAC_SHA1_80, reinterpret_cast<const uint8_t*>(caller.data()), caller.size(),
                     0) != 0)
        rx = nullptr;
    }
    mem_deref(tx);
    tx = nextTx;
    nextTx = nullptr;
    mem_deref(rtp);
    rtp = moved;
    moved = nullptr;
    if (sdp_media_raddr(media)) remote = *sdp_media_raddr(media);
    if (key) tmr_start(&press, 500, Press, this);
  }

  static void Received(const sa*, const rtp_header* header, mbuf* mb, void* arg) {
    Call* self = static_cast<Call*>(arg);
    if (header->pt != 0) return;
    if (!self->started) {
      self->started = true;
      self->firstTs = header->ts;
    }
    const size_t at = static_cast<uint32_t>(header->ts - self->firstTs);
    const size_t n = mbuf_get_left(mb);
    if (at > 8000 * 600) return;  // ten minutes at most
    if (self->samples.size() < at + n) self->samples.resize(at + n);
    const uint8_t* payload = mbuf_buf(mb);
    for (size_t i = 0; i < n; ++i) self->samples[at + i] = talmery::UlawToLinear(payload[i]);
  }

  static void Press(void* arg) {
    Call* self = static_cast<Call*>(arg);
    self->PressKey(self->key, self->byInfo);
  }

  // The recording of play-<number>.wav as PCMU, one packet each 20 ms from the answer, then
  // silence for as long as the call lasts (as a phone's stream goes on).
  static void SendAudio(void* arg) {
    Call* self = static_cast<Call*>(arg);
    const uint64_t now = tmr_jiffies();
    while (self->nextPacket <= now) {
      mbuf* packet = mbuf_alloc(RTP_HEADER_SIZE + 160);
      if (!packet) break;
      packet->pos = packet->end = RTP_HEADER_SIZE;
      for (int i = 0; i < 160; ++i) {
        const int16_t sample = self->played < self->play.size() ? self->play[self->played] : 0;
        if (self->played < self->play.size()) ++self->played;
        mbuf_write_u8(packet, talmery::LinearToUlaw(sample));
      }
      packet->pos = RTP_HEADER_SIZE;
      rtp_send(self->rtp, &self->remote, false, self->sendTs == 0x20000, 0, self->sendTs, packet);
      mem_deref(packet);
      self->sendTs += 160;
      self->nextPacket += 20;
    }
    tmr_start(&self->audio, self->nextPacket - now, SendAudio, self);
  }

  // The next line of keys-<number>.txt at its time.
  static void Act(void* arg) {
    Call* self = static_cast<Call*>(arg);
    const Action a = self->actions[self->nextAction++];
    if (self->nextAction < self->actions.size())
      tmr_start(&self->act, static_cast<uint64_t>(std::max(0, self->actions[self->nextAction].ms - a.ms)), Act, self);
    if (a.what == "bye") {
      tmr_cancel(&self->act);
      return HangUp(self);
    }
    if (a.what.rfind("info:", 0) == 0 && a.what.size() == 6) return self->PressKey(a.what[5], true);
    if (a.what.size() == 1) self->PressKey(a.what[0], false);
  }

  void PressKey(char pressed, bool info) {
    if (!session) return;
    if (info) {
      mbuf* body = mbuf_alloc(64);
      mbuf_printf(body, "Signal=%c\r\nDuration=160\r\n", pressed);
      body->pos = 0;
      sipsess_info(session, "application/dtmf-relay", body, nullptr, nullptr);
      mem_deref(body);
      return;
    }
    // One event: a start, then its end three times, as RFC 4733 asks; each event at a time of
    // its own (the stream's, when it sends audio), which tells it from the one before.
    const uint32_t ts = sendTs;
    sendTs += 800;
    for (int i = 0; i < 4; ++i) {
      mbuf* packet = mbuf_alloc(RTP_HEADER_SIZE + 4);
      packet->pos = packet->end = RTP_HEADER_SIZE;
      mbuf_write_u8(packet, static_cast<uint8_t>(pressed == '*' ? 10 : pressed == '#' ? 11 : pressed - '0'));
      mbuf_write_u8(packet, static_cast<uint8_t>((i > 0 ? 0x80 : 0) | 10));
      mbuf_write_u16(packet, htons(static_cast<uint16_t>(160 * (i + 1))));
      packet->pos = RTP_HEADER_SIZE;
      rtp_send(rtp, &remote, false, i == 0, static_cast<uint8_t>(eventPt), ts, packet);
      mem_deref(packet);
    }
  }

  static void Established(const sip_msg*, void* arg) {
    Call* self = static_cast<Call*>(arg);
    if (self->rekeying) tmr_start(&self->rekey, 500, Rekey, self);
    else if (self->key) tmr_start(&self->press, 1500, Press, self);
    else if (self->hangsUp) tmr_start(&self->press, 1500, HangUp, self);
    if (!self->play.empty()) {
      self->nextPacket = tmr_jiffies();
      SendAudio(self);
    }
    if (!self->actions.empty()) tmr_start(&self->act, static_cast<uint64_t>(std::max(0, self->actions[0].ms)), Act, self);
    std::lock_guard<std::mutex> lock(self->owner->mu_);
    self->owner->answeredAt_.push_back(std::chrono::steady_clock::now());
    ++self->owner->answered_;
  }

  // The callee's end of the call: the recording is written, as when the caller hangs up.
  void Finish() {
    tmr_cancel(&audio);
    tmr_cancel(&act);
    talmery::Pcm pcm;
    pcm.samples = samples;
    std::string error;
    std::lock_guard<std::mutex> lock(owner->mu_);
    const std::string path = owner->dir_ + "/call-" + std::to_string(owner->recordings_.size() + 1) + ".wav";
    if (talmery::WriteWavFile(path, pcm, error)) owner->recordings_.push_back(path);
    if (!scripted.empty()) talmery::WriteWavFile(owner->dir_ + "/heard-" + scripted + ".wav", pcm, error);
    ++owner->closed_;
  }

  static void Closed(int, const sip_msg*, void* arg) { static_cast<Call*>(arg)->Finish(); }

  // Freeing an established session sends its BYE.
  static void HangUp(void* arg) {
    Call* self = static_cast<Call*>(arg);
    tmr_cancel(&self->audio);
    self->session = static_cast<sipsess*>(mem_deref(self->session));
    self->Finish();
  }

  static int Offered(mbuf** description, const sip_msg* msg, void* arg) {
    Call* self = static_cast<Call*>(arg);
    const int err = sdp_decode(self->sdp, msg->mb, true);
    return err ? err : sdp_encode(description, self->sdp, false);
  }
  static int Answer(const sip_msg* msg, void* arg) {
    Call* self = static_cast<Call*>(arg);
    const int err = sdp_decode(self->sdp, msg->mb, false);
    if (!err) self->Rekeyed();
    return err;
  }
};

LibreCallee::LibreCallee(std::string address, int sipPort, int rtpFirst, int rtpLast, std::string dir,
                         std::string certificate)
    : address_(std::move(address)), dir_(std::move(dir)), certificate_(std::move(certificate)), sipPort_(sipPort), rtpFirst_(rtpFirst), rtpLast_(rtpLast) {}

LibreCallee::~LibreCallee() { Stop(); }

std::chrono::steady_clock::time_point LibreCallee::AnsweredAt(int n) {
  std::lock_guard<std::mutex> lock(mu_);
  return n >= 1 && static_cast<size_t>(n) <= answeredAt_.size() ? answeredAt_[n - 1] : std::chrono::steady_clock::time_point();
}

std::vector<std::string> LibreCallee::Recordings() {
  std::lock_guard<std::mutex> lock(mu_);
  return recordings_;
}

bool LibreCallee::Start(std::string& error) {
  std::atomic<int> state{0};
  thread_ = std::thread([this, &error, &state] { Main(&error, &state); });
  while (state == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (state < 0) {
    thread_.join();
    return false;
  }
  return true;
}

void LibreCallee::Main(std::string* error, std::atomic<int>* state) {
  libre_init();
  fd_setsize(8192);
  struct Context {
    LibreCallee* self;
  } context{this};
  sa local{};
  sa_set_str(&local, address_.c_str(), static_cast<uint16_t>(sipPort_));
  struct sip* sip = nullptr;
  sipsess_sock* sessions = nullptr;
  mqueue* stop = nullptr;
  auto incoming = [](const sip_msg* msg, void* arg) {
    LibreCallee* self = static_cast<Context*>(arg)->self;
    Call* call = new Call;
    call->owner = self;
    sa rtpAddress{};
    sa_set_str(&rtpAddress, self->address_.c_str(), 0);
    mbuf* answer = nullptr;
    int err = rtp_listen(&call->rtp, IPPROTO_UDP, &rtpAddress, static_cast<uint16_t>(self->rtpFirst_),
                         static_cast<uint16_t>(self->rtpLast_), true, Call::Received, nullptr, call);
    if (!err) err = sdp_session_alloc(&call->sdp, &rtpAddress);
    const std::string offer(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb));
    const bool srtp = !self->certificate_.empty() && offer.find("RTP/SAVP") != std::string::npos;
    if (!err)
      err = sdp_media_add(&call->media, call->sdp, "audio", sa_port(rtp_local(call->rtp)), srtp ? "RTP/SAVP" : "RTP/AVP");
    if (!err) err = sdp_format_add(nullptr, call->media, false, "0", "PCMU", 8000, 1, nullptr, nullptr, nullptr, false, nullptr);
    if (!err)
      err = sdp_format_add(nullptr, call->media, false, "101", "telephone-event", 8000, 1, nullptr, nullptr, nullptr,
                           false, "0-15");
    if (!err) err = sdp_decode(call->sdp, msg->mb, true);
    if (!err) {
      const std::string user(msg->uri.user.p, msg->uri.user.l);
      call->key = user == "5550101" || user == "5550102" || user == "5550105" ? '1' : user == "5550103" ? '2' : 0;
      call->rekeying = srtp && (user == "5550104" || user == "5550105");
      if (msg->tp == SIP_TRANSP_TLS) call->caller = msg->src;
      call->byInfo = user == "5550102";
      call->hangsUp = user == "5550106";
      talmery::Pcm greeting;
      std::string why;
      const std::string wav = self->dir_ + "/play-" + user + ".wav";
      if (access(wav.c_str(), R_OK) == 0) {
        if (talmery::ReadWavFile(wav, greeting, why) && greeting.rate == 8000) call->play = std::move(greeting.samples);
        else std::fprintf(stderr, "callee: %s: %s\n", wav.c_str(), why.empty() ? "not 8 kHz" : why.c_str());
        if (call->play.empty()) call->play.push_back(0);  // a stream all the same
      }
      call->actions = ReadActions(self->dir_ + "/keys-" + user + ".txt");
      if (!call->play.empty() || !call->actions.empty()) call->scripted = user;
      if (sdp_media_raddr(call->media)) call->remote = *sdp_media_raddr(call->media);
      const sdp_format* events = sdp_media_rformat(call->media, "telephone-event");
      if (events) call->eventPt = events->pt;
      if (srtp) err = call->Protect(user);
    }
    if (!err) err = sdp_encode(&answer, call->sdp, false);
    if (!err)
      err = sipsess_accept(&call->session, static_cast<sipsess_sock*>(self->sessions_), msg, 200, "OK", "callee",
                           "application/sdp", answer, nullptr, nullptr, false, Call::Offered, Call::Answer,
                           Call::Established, nullptr, nullptr, Call::Closed, call, nullptr);
    mem_deref(answer);
    if (err) {
      sip_treply(nullptr, static_cast<struct sip*>(self->sip_), msg, 500, "Callee Fault");
      delete call;
      return;
    }
    std::lock_guard<std::mutex> lock(self->mu_);
    self->calls_.push_back(call);
  };
  int err = sip_alloc(&sip, nullptr, 32, 32, 32, "bench-callee", nullptr, nullptr);
  if (!err) err = sip_transp_add(sip, SIP_TRANSP_UDP, &local);
  struct tls* tls = nullptr;
  if (!err && !certificate_.empty()) {
    err = tls_alloc(&tls, TLS_METHOD_SSLV23, certificate_.c_str(), nullptr);
    if (!err) {
      SSL_CTX_set_tlsext_servername_callback(tls_openssl_context(tls), NoteServerName);
      SSL_CTX_set_tlsext_servername_arg(tls_openssl_context(tls), &serverName_);
    }
    if (!err) err = sip_transp_add(sip, SIP_TRANSP_TLS, &local, tls);
  }
  if (!err) err = sipsess_listen(&sessions, sip, 256, incoming, &context);
  if (!err) err = mqueue_alloc(&stop, [](int, void*, void*) { re_cancel(); }, nullptr);
  sip_ = sip;
  sessions_ = sessions;
  stop_ = stop;
  if (err) {
    *error = std::string("callee: ") + std::strerror(err);
  } else {
    state->store(1);
    re_main(nullptr);
  }
  for (Call* call : calls_) delete call;
  calls_.clear();
  mem_deref(sessions);
  if (sip) sip_close(sip, true);
  mem_deref(sip);
  mem_deref(tls);
  mem_deref(stop);
  sip_ = sessions_ = stop_ = nullptr;
  libre_close();
  if (err) state->store(-1);
}

void LibreCallee::Stop() {
  if (!thread_.joinable()) return;
  mqueue_push(static_cast<mqueue*>(stop_), 0, nullptr);
  thread_.join();
}

}  // namespace bench
