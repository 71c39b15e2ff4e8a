// A line that places its calls on the gateway's SIP engine: an INVITE with an SDP offer of
// G.711, silence from the first media address we learn (a 183 with SDP, or the answer); from the
// answer on, the callee's audio goes to a listener that tells who answered and when the line may
// speak; the message then (once the speech is ready), the keys' prompt, a few seconds for a key,
// then BYE. With srtp = yes (over
// TLS only) the offer is RTP/SAVP with an SDES key of its own, the media are SRTP and the
// reports SRTCP; a re-INVITE may bring the callee's new key and media address.
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

#include "gateway/audio.h"
#include "gateway/event_log.h"
#include "gateway/line.h"
#include "gateway/message_plan.h"
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include "gateway/re_headers.h"
#include "gateway/sdes.h"
#include "gateway/sip_engine.h"
#include "gateway/sip_keys.h"
#include "gateway/sip_rules.h"
#include "gateway/status_view.h"

namespace talmery {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPacketMs = 20;
constexpr size_t kPacketSamples = kPhoneRate * kPacketMs / 1000;
constexpr char kEventPt[] = "101";       // telephone-event in our offer
constexpr size_t kSrtpTagBytes = 10;    // HMAC-SHA1-80's tag, written after the payload

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

std::string Text(const pl& p) { return std::string(p.p ? p.p : "", p.l); }

// Text from the network as we repeat it: no control bytes, and not without end.
std::string Printable(const std::string& text) {
  std::string out = text.substr(0, 80);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < ' ' || c == 0x7F) c = '?';
  return out;
}

std::string AddressPort(const sa& address) {
  char text[80] = "";
  re_snprintf(text, sizeof text, "%J", &address);
  return text;
}

// Whether audio sent to `address` can arrive: an address and port of one host (not 0.0.0.0, not
// multicast or broadcast) to which this machine has a route.
bool Reachable(const sa& address) {
  if (!sa_isset(&address, SA_ALL)) return false;
  if (sa_af(&address) == AF_INET) {
    const uint32_t ip = sa_in(&address);
    if ((ip >> 28) == 0xE || ip == 0xFFFFFFFFu) return false;
  } else if (sa_af(&address) == AF_INET6 && IN6_IS_ADDR_MULTICAST(&address.u.in6.sin6_addr)) {
    return false;
  }
  // A UDP socket's connect sends nothing: it only asks for a route.
  const int probe = socket(sa_af(&address), SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return true;  // cannot tell: the packets will
  const bool routed = connect(probe, &address.u.sa, address.len) == 0;
  close(probe);
  return routed;
}

// What the SIP thread tells the line's thread about its call.
struct CallEvent {
  enum Kind { Established, MessageEnded, Closed, Key, Dialled, Cleared, Woken } kind = Woken;
  char key = 0;        // Key
  int generation = 0;  // MessageEnded: of the message played (see SipCall::Play)
  Answerer who = Answerer::Deciding;  // Cleared: who answered
  bool tone = false;                  // Cleared: a mailbox's tone was heard
  std::string number;  // Dialled: the number of a redirect that is followed
  TryEnd end;          // Closed, MessageEnded: how
};

class Mailbox {
 public:
  void Put(CallEvent event) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      events_.push_back(std::move(event));
    }
    cv_.notify_all();
  }
  // The next event, or a Woken one at the deadline (or when Wake is called).
  CallEvent Take(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_until(lock, deadline, [&] { return !events_.empty() || woken_; });
    woken_ = false;
    if (events_.empty()) return CallEvent{};
    CallEvent e = std::move(events_.front());
    events_.pop_front();
    return e;
  }
  void Wake() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      woken_ = true;
    }
    cv_.notify_all();
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    events_.clear();
    woken_ = false;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<CallEvent> events_;
  bool woken_ = false;
};

// One call on the SIP thread: every member is touched there only. Destroying it ends the call
// (libre sends CANCEL before the answer, BYE after it) and frees its sockets.
class SipCall : public SipEngine::Dialog {
 public:
  SipCall(SipEngine& engine, Mailbox& mailbox) : engine_(engine), mailbox_(mailbox) {
    tmr_init(&packets_);
  }
  ~SipCall() override {
    engine_.RemoveDialog(this);
    tmr_cancel(&packets_);
    mem_deref(session_);
    mem_deref(protection_);
    mem_deref(rtp_);
    mem_deref(tx_);
    mem_deref(rx_);
    mem_deref(sdp_);
    mem_deref(asked_);
    OPENSSL_cleanse(&localKey_[0], localKey_.size());
    OPENSSL_cleanse(&remoteKey_[0], remoteKey_.size());
  }
  SipCall(const SipCall&) = delete;
  SipCall& operator=(const SipCall&) = delete;

  // Sets up RTP and the offer and sends the INVITE; 0 or an errno value.
  int Dial(const std::string& uri) {
    const SipSettings& s = engine_.Settings().sip;
    int err = engine_.ListenRtp(&rtp_, Received, this);
    if (err) return err;
    sa local{};
    sa_set_str(&local, s.localAddress.c_str(), 0);
    if ((err = sdp_session_alloc(&sdp_, &local)) != 0) return err;
    const bool srtp = s.srtp;
    if ((err = sdp_media_add(&media_, sdp_, "audio", sa_port(rtp_local(rtp_)), srtp ? "RTP/SAVP" : "RTP/AVP")) != 0)
      return err;
    if (srtp && (err = Protect()) != 0) return err;
    sdp_media_set_lport_rtcp(media_, static_cast<uint16_t>(sa_port(rtp_local(rtp_)) + 1));
    bool any = false;
    for (const std::string& codec : {std::string("PCMU"), std::string("PCMA")}) {
      if (("," + s.codecs + ",").find("," + codec + ",") == std::string::npos) continue;
      err = sdp_format_add(nullptr, media_, false, codec == "PCMU" ? "0" : "8", codec.c_str(), kPhoneRate, 1, nullptr,
                           nullptr, nullptr, false, nullptr);
      if (err) return err;
      any = true;
    }
    if (!any && (err = sdp_format_add(nullptr, media_, false, "0", "PCMU", kPhoneRate, 1, nullptr, nullptr, nullptr, false,
                                      nullptr)) != 0)
      return err;
    // Keys as RFC 4733 events in the RTP stream: the callee's 1, 2 and star.
    if ((err = sdp_format_add(nullptr, media_, false, kEventPt, "telephone-event", kPhoneRate, 1, nullptr, nullptr,
                              nullptr, false, "0-15")) != 0)
      return err;
    return Invite(uri);
  }

  // The message instead of silence, taken from `feed` as it is made (the line keeps it until it
  // is silenced or the call is gone); MessageEnded, under `generation`, when it has been sent.
  void Play(MessageFeed* feed, int generation) {
    feed_ = feed;
    playing_ = true;
    ended_ = false;
    generation_ = generation;
  }
  // Silence again (the feed may go).
  void Silence() {
    feed_ = nullptr;
    playing_ = false;
  }

  bool Owns(const std::string& callId) const override {
    const sip_dialog* dialog = session_ ? sipsess_dialog(session_) : nullptr;
    const char* ours = dialog ? sip_dialog_callid(dialog) : nullptr;
    return ours && callId == ours;
  }

  bool FromPeer(const sa& source) const override { return peerKnown_ && sa_cmp(&source, &peer_, SA_ADDR); }
  void ByeArrived() override { byeArrived_ = true; }

  // A redirect is followed only to the PBX and to a number `numbers` allows; else the call ends
  // here, before libre can follow it. libre 1.1.0 follows a 3xx by itself and offers no way to
  // refuse one; what stops it is that a session let go of before its final answer is over (libre
  // cancels it and drops the answer), so the redirect is not taken. Should a later libre follow
  // it all the same, SipRedirect.OnlyToThePbxAndToNumbersThatMayBeCalled sees the INVITE to the
  // refused number and host and fails.
  bool Redirected(const sip_msg* msg) override {
    // A retransmission of a redirect already followed (its ACK was lost) is not a second one.
    if (redirects_ > 0 && msg->cseq.num == lastRedirect_) return true;
    ++redirects_;
    lastRedirect_ = msg->cseq.num;
    const sip_hdr* contact = sip_msg_hdr(msg, SIP_HDR_CONTACT);
    sip_addr target{};
    const std::string uri = contact && sip_addr_decode(&target, &contact->val) == 0 ? Text(target.auri) : "";
    const RedirectVerdict verdict = CheckRedirect(engine_.Settings(), engine_.PbxAddresses(), uri);
    if (verdict.kind == RedirectVerdict::Follow) {
      CallEvent dialled;
      dialled.kind = CallEvent::Dialled;
      dialled.number = verdict.number;
      mailbox_.Put(std::move(dialled));
      return true;
    }
    CallEvent closed;
    closed.kind = CallEvent::Closed;
    closed.end.status = static_cast<int>(msg->scode);
    if (verdict.kind == RedirectVerdict::OtherHost) {
      closed.end.ending = Ending::RedirectToHost;
      closed.end.detail = verdict.host.empty() ? "no address" : Printable(verdict.host);
    } else {
      closed.end.ending = Ending::RedirectToNumber;
      closed.end.detail = MaskNumber(Printable(verdict.number));
    }
    tmr_cancel(&packets_);
    session_ = static_cast<sipsess*>(mem_deref(session_));
    mailbox_.Put(std::move(closed));
    return false;
  }

 private:
  int Invite(const std::string& uri) {
    asked_ = static_cast<SipEngine::Asked*>(mem_deref(asked_));
    if (!(asked_ = engine_.NewAsked())) return ENOMEM;
    mbuf* offer = nullptr;
    int err = sdp_encode(&offer, sdp_, true);
    if (err) return err;
    uint32_t routes = 0;
    const char** route = engine_.Routes(routes);
    err = sipsess_connect(&session_, engine_.Sessions(), uri.c_str(), nullptr, engine_.Aor().c_str(),
                          engine_.Contact().c_str(), route, routes, "application/sdp", offer, SipEngine::Credentials,
                          asked_, true, Offered, Answered, Progress, Established, Info, nullptr, Closed, this,
                          "Allow: INVITE, ACK, BYE, CANCEL, INFO\r\n");
    mem_deref(offer);
    if (!err) engine_.AddDialog(this);
    return err;
  }

  // SRTP keyed by SDES: a fresh master key and salt for each call from OpenSSL's CSPRNG, offered
  // in the a=crypto line (over TLS only); our packets are protected and the callee's checked on
  // the RTP and RTCP sockets themselves, below libre's RTP and RTCP. The RTCP socket owns its
  // helper, so that the RTCP BYE libre sends as the socket closes is SRTCP too.
  int Protect() {
    unsigned char key[kSdesKeyBytes];
    if (RAND_bytes(key, sizeof key) != 1) return EIO;
    localKey_.assign(reinterpret_cast<const char*>(key), sizeof key);
    OPENSSL_cleanse(key, sizeof key);
    int err = srtp_alloc(&tx_, SRTP_AES_CM_128_HMAC_SHA1_80, reinterpret_cast<const uint8_t*>(localKey_.data()),
                         localKey_.size(), 0);
    if (!err) err = OfferKey(1);
    udp_sock* rtp = static_cast<udp_sock*>(rtp_sock(rtp_));
    udp_sock* rtcp = static_cast<udp_sock*>(rtcp_sock(rtp_));
    if (!err) err = udp_register_helper(&protection_, rtp, 0, Encrypt, Decrypt, this);
    if (!err) err = udp_register_helper(nullptr, rtcp, 0, EncryptRtcp, DecryptRtcp, this);
    return err;
  }

  // Our a=crypto line, under the tag of the offer it answers (RFC 4568: the answer names the
  // offer's line it accepts). Our key stays the same for the whole call.
  int OfferKey(int tag) {
    std::string line = SdesCrypto(tag, localKey_);
    const int err = sdp_media_set_lattr(media_, true, "crypto", "%s", line.c_str());
    OPENSSL_cleanse(&line[0], line.size());
    return err;
  }

  static bool Encrypt(int* err, sa*, mbuf* mb, void* arg) {
    *err = srtp_encrypt(static_cast<SipCall*>(arg)->tx_, mb);
    return false;
  }

  // Until the answer's key is known, and when a packet does not authenticate, it is dropped.
  static bool Decrypt(sa*, mbuf* mb, void* arg) {
    SipCall* self = static_cast<SipCall*>(arg);
    return !self->rx_ || srtp_decrypt(self->rx_, mb) != 0;
  }

  // SRTCP (RFC 3711 3.4): encrypted, the E flag and index appended, then the tag; libre's report
  // buffers leave room for both.
  static bool EncryptRtcp(int* err, sa*, mbuf* mb, void* arg) {
    *err = srtcp_encrypt(static_cast<SipCall*>(arg)->tx_, mb);
    return false;
  }

  static bool DecryptRtcp(sa*, mbuf* mb, void* arg) {
    SipCall* self = static_cast<SipCall*>(arg);
    return !self->rx_ || srtcp_decrypt(self->rx_, mb) != 0;
  }

  // The first a=crypto line of the SDP with a key we take (an offer may list several, in its
  // order of preference), and its tag; false with the first line's reason otherwise.
  struct KeySearch {
    std::string keySalt;
    int tag = 0;
    std::string why = "none";
    bool found = false;
    ~KeySearch() { OPENSSL_cleanse(&keySalt[0], keySalt.size()); }
  };
  static bool KeyLine(const char*, const char* value, void* arg) {
    KeySearch& s = *static_cast<KeySearch*>(arg);
    std::string error;
    if (!SdesKeyOf(value, s.keySalt, error)) {
      if (s.why == "none") s.why = error;
      return false;
    }
    s.tag = std::atoi(value);  // at most nine digits: SdesKeyOf checked
    s.found = true;
    return true;
  }

  // The remote side's media from an SDP: an answer (183 or 200) to our offer, or the offer of a
  // re-INVITE (a transfer, media moved to another address, a new key). All is checked before
  // anything is taken: a refused offer (488) leaves the call as it was, with its keys and
  // address. 0, an errno value (EPROTO: refused, with the reason in `why`).
  int TakeMedia(bool offer, TryEnd& why) {
    // Our offer's key is taken from the first answer on (a 183's, else the 200's); an offer
    // brings the key the callee sends with from then on.
    const bool rekey = tx_ && (offer || !rx_);
    KeySearch key;
    if (rekey) sdp_media_rattr_apply(media_, "crypto", KeyLine, &key);
    if (rekey && !key.found) {
      why.ending = Ending::NoUsableKey;
      why.detail = key.why;
      return EPROTO;
    }
    const sdp_format* format = G711Of(media_);
    if (!format) {
      why.ending = Ending::NoCommonCodec;
      return EPROTO;
    }
    // The media may move only to where audio can arrive: an answer's, or a re-INVITE's (which
    // only the call's peer or the PBX may send).
    if (!Reachable(*sdp_media_raddr(media_))) {
      why.ending = Ending::MediaUnreachable;
      why.detail = AddressPort(*sdp_media_raddr(media_));
      return EPROTO;
    }
    int err = rekey && offer ? OfferKey(key.tag) : 0;
    // The same key again (a refresh, a hold) keeps its context, and with it the rollover
    // counter and the replay window; a new one starts a context of its own.
    if (!err && rekey && key.keySalt != remoteKey_) {
      struct srtp* fresh = nullptr;
      err = srtp_alloc(&fresh, SRTP_AES_CM_128_HMAC_SHA1_80, reinterpret_cast<const uint8_t*>(key.keySalt.data()),
                       key.keySalt.size(), 0);
      if (!err) {
        mem_deref(rx_);
        rx_ = fresh;
        remoteKey_.swap(key.keySalt);  // the old key is wiped with `key`
      }
    }
    if (err) return err;
    const sdp_format* events = sdp_media_rformat(media_, "telephone-event");
    eventPt_ = events ? events->pt : -1;
    payloadType_ = static_cast<uint8_t>(format->pt);
    alaw_ = format->pt == 8 || (format->name && strcasecmp(format->name, "PCMA") == 0);
    remote_ = *sdp_media_raddr(media_);
    sa rtcp{};
    sdp_media_raddr_rtcp(media_, &rtcp);
    if (!sending_ || !sa_cmp(&rtcp, &rtcpRemote_, SA_ALL)) {
      rtcpRemote_ = rtcp;
      rtcp_start(rtp_, engine_.Contact().c_str(), &rtcpRemote_);
    }
    if (!sending_) {
      sending_ = true;
      next_ = tmr_jiffies();
      Tick(this);
    }
    return 0;
  }

  // The callee's first G.711 format: by name, or a static payload type 0 (PCMU) or 8 (PCMA)
  // that names none (RFC 3551 fixes them; RFC 4566 makes their a=rtpmap optional).
  static const sdp_format* G711Of(const sdp_media* media) {
    const list* formats = sdp_media_format_lst(media, false);
    for (const char* codec : {"PCMU", "PCMA"}) {
      for (const le* e = formats ? formats->head : nullptr; e; e = e->next) {
        const sdp_format* f = static_cast<const sdp_format*>(e->data);
        const bool named = f->name && strcasecmp(f->name, codec) == 0;
        const bool fixed = (!f->name || !*f->name) && f->pt == (codec[2] == 'M' ? 0 : 8);
        if (named || fixed) return f;
      }
    }
    return nullptr;
  }

  // An answer's media: a reason for the call's end without them.
  int TakeAnswer() {
    TryEnd why;
    const int err = TakeMedia(false, why);
    if (err == EPROTO) {
      failure_ = why;
      failed_ = true;
    } else if (!err) {
      failed_ = false;  // an early answer's bad key, mended by the final answer
    }
    return err;
  }

  void NotePeer(const sip_msg* msg) {
    if (!msg) return;
    peer_ = msg->src;
    peerKnown_ = true;
  }

  // One packet each 20 ms, timed from the first one so that the timer's lateness does not add up.
  static void Tick(void* arg) {
    SipCall* self = static_cast<SipCall*>(arg);
    const uint64_t now = tmr_jiffies();
    if (now > self->next_ + 5 * kPacketMs) self->next_ = now;  // the machine stalled: no burst
    while (self->next_ <= now) {
      self->SendPacket();
      self->next_ += kPacketMs;
    }
    tmr_start(&self->packets_, self->next_ - now, Tick, self);
  }

  // One packet's time of the callee's audio to the listener: what arrived for it, silence for
  // what did not. Until the line is cleared to speak: then the listener has said what it had to.
  void Listen() {
    if (!listener_ || cleared_) return;
    int16_t samples[kPacketSamples] = {};
    const size_t n = std::min(heardSize_, kPacketSamples);
    for (size_t i = 0; i < n; ++i) samples[i] = heard_[(heardHead_ + i) % kHeardSamples];
    heardHead_ = (heardHead_ + n) % kHeardSamples;
    heardSize_ -= n;
    listener_->Feed(samples, kPacketSamples);
    if (!listener_->ClearToSpeak()) return;
    cleared_ = true;
    CallEvent event;
    event.kind = CallEvent::Cleared;
    event.who = listener_->Who() == Answerer::Deciding ? Answerer::NotSure : listener_->Who();
    event.tone = event.who == Answerer::Machine && listener_->ToneHeard();
    mailbox_.Put(std::move(event));
  }

  // The callee's G.711 in the order of its timestamps: a gap (a lost packet) is silence, a
  // packet whose time has passed is dropped, and a jump (a new stream) starts the order afresh.
  // At most kHeardSamples wait: a sender faster than our clock loses its oldest.
  void Heard(const rtp_header* header, mbuf* mb) {
    const size_t n = std::min(mbuf_get_left(mb), kHeardSamples);
    if (!heardStarted_) {
      heardStarted_ = true;
      heardTs_ = header->ts;
    }
    long long ahead = static_cast<int32_t>(header->ts - heardTs_);
    if (ahead < 0 && ahead > -static_cast<long long>(kHeardSamples)) return;
    if (ahead < 0 || ahead > static_cast<long long>(kHeardSamples)) ahead = 0;
    const uint8_t* payload = mbuf_buf(mb);
    const bool alaw = header->pt == 8 || (header->pt != 0 && alaw_);
    for (long long i = 0; i < ahead + static_cast<long long>(n); ++i) {
      const int16_t sample = i < ahead ? 0 : alaw ? AlawToLinear(payload[i - ahead]) : UlawToLinear(payload[i - ahead]);
      if (heardSize_ == kHeardSamples) {
        heardHead_ = (heardHead_ + 1) % kHeardSamples;
        --heardSize_;
      }
      heard_[(heardHead_ + heardSize_) % kHeardSamples] = sample;
      ++heardSize_;
    }
    heardTs_ = header->ts + static_cast<uint32_t>(n);
  }

  void SendPacket() {
    Listen();
    // (Room for SRTP's tag: no second allocation for it.)
    mbuf* packet = mbuf_alloc(RTP_HEADER_SIZE + kPacketSamples + kSrtpTagBytes);
    if (!packet) return;
    packet->pos = packet->end = RTP_HEADER_SIZE;
    // What the feed has not made yet (a slow machine) goes as silence: the packets keep time.
    int16_t samples[kPacketSamples] = {};
    bool messageEnded = false;
    if (playing_) feed_->Take(samples, kPacketSamples, messageEnded);
    for (int16_t sample : samples) mbuf_write_u8(packet, alaw_ ? LinearToAlaw(sample) : LinearToUlaw(sample));
    packet->pos = RTP_HEADER_SIZE;
    const int err = rtp_send(rtp_, &remote_, false, first_, payloadType_, timestamp_, packet);
    if (err && playing_ && !sendError_) sendError_ = err;
    mem_deref(packet);
    first_ = false;
    timestamp_ += kPacketSamples;
    if (playing_ && messageEnded && !ended_) {
      ended_ = true;
      // Played only when every packet of it went out.
      CallEvent event;
      event.kind = CallEvent::MessageEnded;
      event.generation = generation_;
      event.end.ending = sendError_ ? Ending::MediaUnreachable : Ending::Played;
      event.end.error = sendError_;
      if (sendError_) event.end.detail = AddressPort(remote_);
      mailbox_.Put(std::move(event));
    }
  }

  // What the callee sends: its G.711 audio for the listener, from the answer on, and keys (RFC
  // 4733: the event in the first byte), each reported once (its packets share a timestamp). Only
  // from the address its SDP named: anyone may send to our port, and a key from elsewhere would
  // confirm a call nobody heard, audio from elsewhere speak for the callee.
  static void Received(const sa* source, const rtp_header* header, mbuf* mb, void* arg) {
    SipCall* self = static_cast<SipCall*>(arg);
    if (!self->sending_ || !sa_cmp(source, &self->remote_, SA_ALL)) return;
    if (header->pt == 0 || header->pt == 8 || header->pt == self->payloadType_) {
      if (self->listener_ && !self->cleared_) self->Heard(header, mb);
      return;
    }
    if (mbuf_get_left(mb) < 4) return;
    if (header->pt != std::atoi(kEventPt) && header->pt != self->eventPt_) return;
    if (self->keyHeard_ && header->ts == self->keyTs_) return;
    const uint8_t event = mbuf_buf(mb)[0];
    if (event > 11) return;
    self->keyHeard_ = true;
    self->keyTs_ = header->ts;
    CallEvent pressed;
    pressed.kind = CallEvent::Key;
    pressed.key = event < 10 ? static_cast<char>('0' + event) : event == 10 ? '*' : '#';
    self->mailbox_.Put(std::move(pressed));
  }

  // A re-INVITE's offer: libre answers 488 when this fails, and the call goes on as it was.
  static int Offered(mbuf** description, const sip_msg* msg, void* arg) {
    SipCall* self = static_cast<SipCall*>(arg);
    TryEnd why;
    int err = sdp_decode(self->sdp_, msg->mb, true);
    if (!err) err = self->TakeMedia(true, why);
    if (!err) return sdp_encode(description, self->sdp_, false);
    std::string reason = std::strerror(err);
    if (err == EPROTO && why.ending == Ending::NoUsableKey)
      reason = "488 no usable SRTP key in the offer (a=crypto " + std::string(kSdesSuite) + "): " + why.detail;
    else if (err == EPROTO && why.ending == Ending::NoCommonCodec)
      reason = "488 no common codec in the offer";
    else if (err == EPROTO)
      reason = "488 the offer's media address " + why.detail + " cannot be reached";
    self->engine_.log().Write("sip", {{"refused", "re-INVITE"}, {"reason", reason}});
    return err;
  }

  static int Answered(const sip_msg* msg, void* arg) {
    SipCall* self = static_cast<SipCall*>(arg);
    self->NotePeer(msg);
    const int err = sdp_decode(self->sdp_, msg->mb, false);
    return err ? err : self->TakeAnswer();
  }

  // Early media: a 183 with SDP gets silence at once, so that nothing of the message is lost.
  static void Progress(const sip_msg* msg, void* arg) {
    SipCall* self = static_cast<SipCall*>(arg);
    self->NotePeer(msg);
    if (mbuf_get_left(msg->mb) == 0 || !msg_ctype_cmp(&msg->ctyp, "application", "sdp")) return;
    if (sdp_decode(self->sdp_, msg->mb, false) == 0) self->TakeAnswer();
  }

  static void Established(const sip_msg* msg, void* arg) {
    SipCall* self = static_cast<SipCall*>(arg);
    self->NotePeer(msg);
    self->asked_->times = 0;  // the BYE may meet a challenge of its own
    // The listener's time is the call's from the answer on: a packet's worth at each tick.
    if (!self->listener_) self->listener_ = std::make_unique<CalleeListener>(self->engine_.Settings().listening);
    CallEvent event;
    event.kind = CallEvent::Established;
    self->mailbox_.Put(std::move(event));
  }

  static void Info(struct sip* sip, const sip_msg* msg, void* arg) {
    SipCall* self = static_cast<SipCall*>(arg);
    sip_treply(nullptr, sip, msg, 200, "OK");
    const std::string type = Text(msg->ctyp.type) + "/" + Text(msg->ctyp.subtype);
    const std::string body(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb));
    CallEvent pressed;
    pressed.kind = CallEvent::Key;
    pressed.key = InfoKey(type, body);
    if (pressed.key) self->mailbox_.Put(std::move(pressed));
  }

  static void Closed(int err, const sip_msg* msg, void* arg) {
    SipCall* self = static_cast<SipCall*>(arg);
    tmr_cancel(&self->packets_);
    CallEvent event;
    event.kind = CallEvent::Closed;
    TryEnd& end = event.end;
    if (self->listener_) end.answerer = self->listener_->Who();
    std::string refusal;
    const SipEngine::TlsTrouble tls = self->engine_.TlsTroubleOf(err, refusal);
    if (self->failed_) {
      end = self->failure_;
    } else if ((msg && msg->req) || (self->byeArrived_ && err == ECONNRESET)) {
      // The callee's BYE, which libre reports as ECONNRESET (with or without the request): looked
      // at before the error, since a callee who hangs up answered the call.
      end.ending = Ending::CalleeHungUp;
    } else if (msg && !msg->req && msg->scode >= 300) {
      // (With err set too when we declined a second challenge: the status says more. A 3xx
      // arrives here only when libre gave up following redirects: a loop.)
      end.ending = Ending::SipStatus;
      end.status = static_cast<int>(msg->scode);
      end.detail = Printable(Text(msg->reason));
    } else if (!msg && !self->sending_ && tls != SipEngine::TlsTrouble::None) {
      end.ending = tls == SipEngine::TlsTrouble::Refused ? Ending::TlsRefused : Ending::TlsFailed;
      end.detail = refusal;  // nothing was sent: the connection ended first
      end.error = err;
    } else if (err == ETIMEDOUT || err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH) {
      end.ending = Ending::NoResponse;  // no answer to the INVITE at all
      end.error = err;
    } else if (err) {
      end.ending = Ending::SipError;
      end.error = err;
    } else {
      end.ending = Ending::SipError;
      end.detail = "closed";
    }
    self->mailbox_.Put(std::move(event));
  }

  SipEngine& engine_;
  Mailbox& mailbox_;
  sipsess* session_ = nullptr;
  struct rtp_sock* rtp_ = nullptr;
  struct udp_helper* protection_ = nullptr;
  struct srtp* tx_ = nullptr;  // ours (SRTP calls only)
  struct srtp* rx_ = nullptr;  // the callee's, from its answer or latest offer
  std::string localKey_;       // our master key and salt, for the answers to re-INVITEs
  std::string remoteKey_;      // the callee's, in rx_
  sdp_session* sdp_ = nullptr;
  sdp_media* media_ = nullptr;
  tmr packets_;
  sa remote_{};
  sa rtcpRemote_{};
  uint8_t payloadType_ = 0;
  int eventPt_ = -1;
  bool keyHeard_ = false;
  uint32_t keyTs_ = 0;
  bool alaw_ = false, sending_ = false, first_ = true, playing_ = false, ended_ = false;
  int generation_ = 0;
  std::unique_ptr<CalleeListener> listener_;  // from the answer on
  bool cleared_ = false;                       // the listener let the line speak
  static constexpr size_t kHeardSamples = 8 * kPacketSamples;
  int16_t heard_[kHeardSamples] = {};          // the callee's audio not yet given to the listener
  size_t heardHead_ = 0, heardSize_ = 0;
  uint32_t heardTs_ = 0;                       // the timestamp the next sample is due at
  bool heardStarted_ = false;
  uint32_t timestamp_ = 0;
  uint64_t next_ = 0;
  MessageFeed* feed_ = nullptr;
  SipEngine::Asked* asked_ = nullptr;
  TryEnd failure_;  // why the answer's media were refused, when failed_
  bool failed_ = false;
  int redirects_ = 0;
  uint32_t lastRedirect_ = 0;  // the CSeq of the INVITE the last redirect answered
  sa peer_{};  // where the dialog's answers came from
  bool peerKnown_ = false;
  int sendError_ = 0;  // the first packet of the message that could not be sent
  bool byeArrived_ = false;
};

class SipLine : public Line {
 public:
  SipLine(const Config& config, SipEngine& engine) : config_(config), engine_(engine) {}
  ~SipLine() override { End(); }

  bool Ready(std::string& why) override {
    if (engine_.Run([] {})) return true;
    why = "the SIP stack is not running";
    return false;
  }

  TryEnd Place(const DialJob& job, const std::function<void()>& onAnswered) override {
    aborted_ = false;
    mailbox_.Clear();
    dialled_ = {job.number};
    const std::string uri = TransportUri(config_.sip, ReplaceAll(config_.DialTemplate(), "{number}", job.number));
    TryEnd end = Run(job, uri, onAnswered);
    End();
    end.dialled = dialled_;
    feed_.reset();  // after the call, which takes from it; its helper is ended
    return end;
  }

  void Abort() override {
    aborted_ = true;
    mailbox_.Wake();
  }

 private:
  static TryEnd Ended(Ending ending, bool answered = false) {
    TryEnd end;
    end.ending = ending;
    end.answered = answered;
    return end;
  }

  // The speech failed: a text that gives no sound would give none again; anything else may pass.
  TryEnd SpeechFault(bool answered) const {
    TryEnd fault = Ended(feed_->Silent() ? Ending::SpeechSilent : Ending::SpeechFault, answered);
    fault.detail = feed_->Error();
    return fault;
  }

  // Ends the call (CANCEL or BYE) and frees its sockets.
  void End() {
    if (!call_) return;
    SipCall* call = call_;
    call_ = nullptr;
    if (!engine_.Run([call] { delete call; })) delete call;  // the stack has stopped: nothing is left to send
  }

  // A message for the call from now on, made at once and played once it is ready; the one it
  // replaces is silenced first, and what it still sends is no longer heeded.
  void NewFeed(MessagePlan plan) {
    engine_.Run([&] {
      if (call_) call_->Silence();
    });
    feed_.reset();
    feed_ = std::make_unique<MessageFeed>(std::move(plan), HelperSpeechOf(config_), [this] { mailbox_.Wake(); });
    ++generation_;
  }

  TryEnd Run(const DialJob& job, const std::string& uri, const std::function<void()>& onAnswered) {
    int err = 0;
    if (!engine_.Run([&] {
          call_ = new SipCall(engine_, mailbox_);
          err = call_->Dial(uri);
        }))
      return Ended(Ending::StackDown);
    if (err) {
      TryEnd refused = Ended(Ending::DialRefused);
      refused.error = err;
      return refused;
    }

    // The speech is made while the phone rings, some seconds ahead of the call; the call
    // sends silence until the answer, until the listener clears the line to speak, and until the
    // first seconds are ready, so that early media lose none of the message.
    MessagePlan plan = PlanMessage(job.text, config_, job.snoozeOffered);
    size_t budgetSamples = plan.budgetSamples;
    feed_ = std::make_unique<MessageFeed>(std::move(plan), HelperSpeechOf(config_), [this] { mailbox_.Wake(); });
    generation_ = 1;
    const Clock::time_point start = Clock::now();
    bool answered = false, cleared = false, playing = false, ended = false, ready = false;
    bool once = false;     // a machine: the text once, no prompt, no wait for a key
    bool notice = false;   // the snooze notice plays: the call ends after it
    int wanted = config_.repeat;  // times the message playing is to say its text
    Answerer who = Answerer::Deciding;
    bool tone = false;
    Clock::time_point keyBy, answeredAt, feedFrom;
    std::string note;  // what the message left out, once it has ended
    // Who answered, in every end; with confirm = yes only the key 1 (or a snooze, or what
    // voicemail says of a mailbox) tells that the message was heard.
    auto finish = [&](TryEnd end) {
      end.answered = answered;
      if (end.answerer == Answerer::Deciding) end.answerer = who;
      const bool told = end.ending == Ending::Confirmed || end.ending == Ending::Snoozed ||
                        end.ending == Ending::LeftOnVoicemail || end.ending == Ending::VoicemailHungUp ||
                        end.ending == Ending::VoicemailRetry;
      end.unconfirmed = answered && config_.confirm && !told;
      if (end.note.empty()) end.note = note;
      return end;
    };
    auto snoozed = [&] {
      TryEnd end = Ended(Ending::Snoozed, true);
      end.seconds = config_.snoozeMinutes * 60;
      return finish(end);
    };
    // A key or the listener lets the line speak; a key before the listener told says a person.
    auto clear = [&] {
      cleared = true;
      if (who == Answerer::Deciding) who = Answerer::Person;
    };
    for (;;) {
      if (!ready && feed_->Ready()) {
        if (!feed_->Error().empty()) return notice ? snoozed() : finish(SpeechFault(answered));
        ready = true;
      }
      if (cleared && ready && !playing) {
        playing = true;
        MessageFeed* feed = feed_.get();
        // What was waited for since the message's time began (a greeting, speech made slower
        // than the phone answered) comes off its budget, so that it still ends, cut, before the
        // line hangs up.
        const auto lateMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - feedFrom).count();
        const size_t lateSamples = static_cast<size_t>(lateMs) * kPhoneRate / 1000;
        if (!notice && lateSamples > 0) feed->Limit(budgetSamples > lateSamples ? budgetSamples - lateSamples : 0);
        const int generation = generation_;
        engine_.Run([&] { call_->Play(feed, generation); });
      }
      Clock::time_point deadline =
          answered ? answeredAt + std::chrono::seconds(config_.maxCallTime) : start + std::chrono::seconds(config_.ringTime);
      if (ended) deadline = std::min(deadline, keyBy);
      const CallEvent event = mailbox_.Take(std::min(deadline, Clock::now() + std::chrono::milliseconds(200)));
      if (aborted_) return finish(Ended(Ending::Stopped));
      switch (event.kind) {
        case CallEvent::Woken: {
          if (Clock::now() < deadline) continue;
          if (notice) return snoozed();  // the call was put off, whatever of the notice was heard
          if (answered && ended) return finish(Ended(Ending::Played));  // no key within the wait
          TryEnd over = Ended(answered ? Ending::MaxCallTime : Ending::RingTimeout);
          over.seconds = answered ? config_.maxCallTime : config_.ringTime;
          return finish(over);
        }
        case CallEvent::Established:
          if (!answered) {
            answered = true;  // the message starts once the listener clears the line and it is ready
            answeredAt = feedFrom = Clock::now();
            onAnswered();
          }
          continue;
        case CallEvent::Cleared:
          if (cleared) continue;  // a key came first
          cleared = true;
          who = event.who;
          tone = event.tone;
          if (who != Answerer::Machine) continue;
          if (config_.voicemail == Voicemail::HangUp) return finish(Ended(Ending::VoicemailHungUp, true));
          if (config_.voicemail == Voicemail::Retry) return finish(Ended(Ending::VoicemailRetry, true));
          // The mailbox keeps the message once, whole: no repetition, no prompt for keys.
          once = true;
          wanted = 1;
          feed_->Once(kPhoneRate * 3 / 10);
          continue;
        case CallEvent::MessageEnded:
          if (event.generation != generation_) continue;  // of a message replaced since
          if (notice) return snoozed();
          if (!feed_->Error().empty()) return finish(SpeechFault(true));
          note = once ? ShortenedNote(feed_->Trimmed(), feed_->FirstCut(), 1, config_, 1)
                      : ShortenedNote(feed_->Trimmed(), feed_->Cut(), feed_->Said(), config_, wanted);
          if (event.end.ending != Ending::Played) return finish(event.end);  // not heard in full
          if (once) {
            TryEnd left = Ended(Ending::LeftOnVoicemail, true);
            left.afterTone = tone;
            return finish(left);
          }
          ended = true;  // a few seconds more for a key
          keyBy = Clock::now() + std::chrono::seconds(kConfirmWaitSeconds);
          continue;
        case CallEvent::Key:
          if (!answered || notice) continue;
          if (event.key == '1') {
            clear();
            return finish(Ended(Ending::Confirmed, true));
          }
          if (event.key == '*') {
            // From its beginning, at once: the text once more, then the prompt, within the time
            // the call has left.
            clear();
            const auto left = std::chrono::duration_cast<std::chrono::seconds>(
                                  answeredAt + std::chrono::seconds(config_.maxCallTime) - Clock::now())
                                  .count();
            MessagePlan again = PlanMessage(job.text, config_, job.snoozeOffered, static_cast<int>(std::max(1LL, static_cast<long long>(left))));
            again.repeat = 1;
            again.kept = feed_->Kept();  // played from what this call made, once it was said whole
            budgetSamples = again.budgetSamples;
            NewFeed(std::move(again));
            feedFrom = Clock::now();
            once = false;
            wanted = 1;
            ready = playing = ended = false;
            continue;
          }
          if (event.key == '2' && job.snoozeOffered) {
            clear();
            NewFeed(PlanNotice(config_));
            notice = true;
            ready = playing = ended = false;
            continue;
          }
          continue;  // a key this call does not offer
        case CallEvent::Dialled:
          dialled_.push_back(event.number);
          continue;
        case CallEvent::Closed:
          if (notice) return snoozed();  // the callee hung up on the notice: the call is put off all the same
          return finish(event.end);
      }
    }
  }

  const Config& config_;
  SipEngine& engine_;
  Mailbox mailbox_;
  SipCall* call_ = nullptr;  // created, used and destroyed on the SIP thread
  std::unique_ptr<MessageFeed> feed_;  // the current call's message, outliving the call
  int generation_ = 0;                 // of feed_: its MessageEnded tells its own end
  std::atomic<bool> aborted_{false};
  std::vector<std::string> dialled_;
};

}  // namespace

std::unique_ptr<Line> MakeSipLine(const Config& config, SipEngine& engine) {
  return std::make_unique<SipLine>(config, engine);
}

}  // namespace talmery
