// SIP over TLS and media over SRTP: certificates that verify or not, answers without a key,
// re-INVITEs with new keys, the listener hearing the callee through SRTP, a refusal told to the
// calls of its own connection, a PBX known by its name on 5061.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "tests/gateway/sip_call_fixtures.h"
#include "tests/gateway/support/name_server.h"
#include "tests/gateway/support/private_network.h"

namespace gwtest {
namespace {

using SipOverTls = LibreCalleeTest;

// SIP over TLS with SRTP to a callee that speaks both, its certificate trusted through
// tls_ca_file: the callee, which records only what decrypts with the key of our offer, hears the
// text, and its reports as SRTCP under the same key, never RTCP in clear. A certificate that
// does not verify ends the call before anything is sent (tls_verify = no takes it); an answer
// without a key fails the call. Each fails for good, with its reason. A callee that re-INVITEs
// mid-message with a key we do not take is refused and the call goes on; its next re-INVITE,
// with a new key and media address, is followed: the message arrives whole at the new address,
// and a key pressed under the new key confirms the call, also when the re-INVITEs came over a
// connection the callee opened to our Contact (our tls_certificate answers it).
TEST_F(SipOverTls, TheCalleeHearsTheTextThroughSrtpUnverifiedOrKeylessFailsTheCall) {
  const int base = base_;
  const TempDir& dir = dir_;
  ASSERT_TRUE(MakeCertificate(dir.path(), "callee"));
  ASSERT_TRUE(MakeCertificate(dir.path(), "stranger"));
  ASSERT_TRUE(MakeCertificate(dir.path(), "gateway"));
  ASSERT_TRUE(StartCallee(dir.path() + "/callee.pem"));

  // (The callee's 5550488 answers without a key; 5550104 and 5550105 re-INVITE mid-message, the
  // second over a connection of its own, and 5550105 presses 1.)
  const struct {
    const char* name;
    const char* ca;
    bool verify;
    const char* number;
    const char* state;
    const char* reason;
    bool confirm = false;
  } cases[] = {
      {"trusted", "callee.crt", true, "5550100", "done", "answered by a person; the message was played"},
      {"not verified", "stranger.crt", true, "5550100", "failed",
       "TLS: the PBX's certificate does not verify for 127.0.0.1: self-signed certificate"},
      {"not verified, tls_verify = no", "stranger.crt", false, "5550100", "done",
       "answered by a person; the message was played"},
      {"an answer without a key", "callee.crt", true, "5550488", "failed",
       "488 no usable SRTP key in the answer (a=crypto AES_CM_128_HMAC_SHA1_80): none"},
      {"re-INVITEs with a refused key, then a new one", "callee.crt", true, "5550104", "done",
       "answered by a person; the message was played"},
      {"the same, then key 1 under the new key", "callee.crt", true, "5550105", "done",
       "answered by a person; confirmed (key 1)", true},
  };
  const std::string text = "The quarterly review starts in ten minutes.";
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    talmery::Config config = TlsGatewayConfig(dir.path() + "/calls-" + std::to_string(++n) + ".db", base);
    config.attempts = 2;
    config.retryPause = 1;
    config.sip.srtp = true;
    config.confirm = c.confirm;
    config.sip.tlsCaFile = dir.path() + "/" + c.ca;
    config.sip.tlsVerify = c.verify;
    config.sip.tlsCertificate = dir.path() + "/gateway.pem";
    config.sip.dial = "sip:{number}@127.0.0.1:" + std::to_string(base);
    std::string error;
    ASSERT_TRUE(talmery::ValidateConfig(config, error)) << error;
    ASSERT_TRUE(StartGateway(config));
    const long long id = Post(c.number, text);
    const nlohmann::json end = WaitForState(Port(), id, c.state, 60000);
    EXPECT_EQ(end["state"], c.state) << n << end.dump(1);
    EXPECT_EQ(end["reason"], c.reason) << n << end.dump(1);
    EXPECT_EQ(end["attempts"], 1) << n << end.dump(1);
    const std::string refused =
        "refused=re-INVITE reason=\"488 no usable SRTP key in the offer (a=crypto AES_CM_128_HMAC_SHA1_80): "
        "suite AES_CM_128_HMAC_SHA1_32, not AES_CM_128_HMAC_SHA1_80\"";
    EXPECT_EQ(gateway().LogText().find(refused) != std::string::npos, c.number[6] == '4' || c.number[6] == '5')
        << n << gateway().LogText();
    StopGateway();
  }
  // Five calls reached the callee (the keyless one ends at once): the refused one sent nothing,
  // in clear or otherwise. Each of the four with media sent SRTCP, at least the RTCP BYE at its
  // end, and nothing else came to an RTCP port.
  WaitUntil([&] { return std::filesystem::exists(dir.path() + "/call-5.wav"); }, 5000);
  const std::string counts = callee_->Stop();
  std::smatch m;
  const std::regex calleeCounts("ready\nanswered 5, closed 5, srtcp ([0-9]+), unauthenticated 0\n");
  ASSERT_TRUE(std::regex_match(counts, m, calleeCounts)) << counts;
  EXPECT_GE(std::stoi(m[1]), 4) << counts;
  talmery::Pcm speech;
  std::string error;
  ASSERT_TRUE(talmery::Synthesize(text, talmery::Voice(), speech, error)) << error;
  for (int call : {1, 2, 4}) {
    talmery::Pcm recording;
    std::string report;
    ASSERT_TRUE(talmery::ReadWavFile(dir.path() + "/call-" + std::to_string(call) + ".wav", recording, error)) << error;
    EXPECT_TRUE(phone::RecordingCarries(recording, speech, 2, report)) << call << ": " << report;
  }
  // An authority or a certificate of ours that cannot be read stops the start, rather than
  // trusting nothing or all, or leaving the PBX's own connections unanswered.
  const std::string missing = dir.path() + "/missing.pem";
  for (const bool authority : {true, false}) {
    SCOPED_TRACE(authority ? "tls_ca_file" : "tls_certificate");
    talmery::Config config = TlsGatewayConfig(dir.path() + "/calls-start.db", base);
    (authority ? config.sip.tlsCaFile : config.sip.tlsCertificate) = missing;
    InProcessGateway gateway(config);
    EXPECT_FALSE(gateway.Start(error));
    EXPECT_EQ(error, authority ? "sip.tls_ca_file: cannot read certificates from " + missing
                               : "sip.tls_certificate: cannot read a certificate and its private key from " + missing);
  }
}

// Over SRTP the listener hears the callee's audio as it is decrypted: a mailbox's greeting is
// waited out, and the message left after it.
TEST_F(SipOverTls, TheListenerHearsTheCalleeThroughSrtp) {
  ASSERT_TRUE(MakeCertificate(dir_.path(), "callee"));
  const size_t greeting = greetings_.Say("5550203", kMailbox);
  ASSERT_TRUE(StartCallee(dir_.path() + "/callee.pem"));
  talmery::Config config = TlsGatewayConfig(dir_.path() + "/calls.db", base_);
  config.sip.srtp = true;
  config.sip.tlsCaFile = dir_.path() + "/callee.crt";
  config.sip.dial = "sip:{number}@127.0.0.1:" + std::to_string(base_);
  ASSERT_TRUE(StartGateway(config));
  const std::string text = "The quarterly review starts in ten minutes.";
  const long long id = Post("5550203", text);
  const nlohmann::json done = WaitForState(Port(), id, "done", 60000);
  EXPECT_EQ(done["reason"], "answered by a machine; left on voicemail after the greeting") << done.dump(1);
  const talmery::Pcm heard = greetings_.Heard("5550203");
  EXPECT_GT(StartOf(heard, SpeechOf(text)), static_cast<long>(greeting));
}

// A certificate's refusal is the reason of the calls its connection carried, not of the next
// connection's failure: a peer that shows a certificate nobody trusts, then (the same address)
// one that speaks no TLS at all.
TEST_F(SipOverTls, ARefusalIsToldOnlyToTheCallsOfTheConnectionItEnded) {
  const int base = base_;
  const TempDir& dir = dir_;
  ASSERT_TRUE(MakeCertificate(dir.path(), "callee"));
  ASSERT_TRUE(MakeCertificate(dir.path(), "stranger"));
  SSL_CTX* stranger = SSL_CTX_new(TLS_server_method());
  ASSERT_EQ(SSL_CTX_use_certificate_file(stranger, (dir.path() + "/stranger.crt").c_str(), SSL_FILETYPE_PEM), 1);
  ASSERT_EQ(SSL_CTX_use_PrivateKey_file(stranger, (dir.path() + "/stranger.key").c_str(), SSL_FILETYPE_PEM), 1);
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<uint16_t>(base + 50));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  std::atomic<bool> speakTls{true}, stop{false};
  std::thread peer([&] {
    while (!stop) {
      pollfd p{listener, POLLIN, 0};
      if (poll(&p, 1, 100) != 1) continue;
      const int conn = accept(listener, nullptr, nullptr);
      if (conn < 0) continue;
      if (speakTls) {
        SSL* ssl = SSL_new(stranger);
        SSL_set_fd(ssl, conn);
        SSL_accept(ssl);  // the gateway refuses the certificate and leaves
        SSL_free(ssl);
      } else {
        char hello[512];
        if (recv(conn, hello, sizeof hello, 0) > 0) (void)!send(conn, "SIP/2.0 400 Bad Request\r\n\r\n", 28, MSG_NOSIGNAL);
      }
      close(conn);
    }
  });
  struct Join {
    std::atomic<bool>& stop;
    std::thread& peer;
    int fd;
    SSL_CTX* context;
    ~Join() {
      stop = true;
      peer.join();
      close(fd);
      SSL_CTX_free(context);
    }
  } join{stop, peer, listener, stranger};

  talmery::Config config = TlsGatewayConfig(dir.path() + "/calls.db", base);
  config.attempts = 1;
  config.sip.tlsCaFile = dir.path() + "/callee.crt";
  config.sip.dial = "sip:{number}@127.0.0.1:" + std::to_string(base + 50);
  std::string error;
  ASSERT_TRUE(talmery::ValidateConfig(config, error)) << error;
  ASSERT_TRUE(StartGateway(config));
  const struct {
    const char* name;
    bool tls;
    const char* reason;
  } calls[] = {
      {"a certificate nobody trusts", true,
       "TLS: the PBX's certificate does not verify for 127.0.0.1: self-signed certificate"},
      {"then no TLS at all", false, "TLS: the connection to the PBX failed before an answer: Protocol error"},
  };
  for (const auto& c : calls) {
    SCOPED_TRACE(c.name);
    speakTls = c.tls;
    const long long id = Post("5550100", "Budget.");
    const nlohmann::json end = WaitForState(Port(), id, "failed", 30000);
    EXPECT_EQ(end["reason"], c.reason) << end.dump(1);
  }
  StopGateway();  // before the peer's thread and its context go
}

// A PBX known by its name, reached over TLS at the port TLS has when the address names none
// (5061): the handshake names it (SNI), its certificate is checked against that name, and the
// gateway listens for TLS alone on sip_port, nothing in clear. In a network namespace of the
// test's own, where it can be the name server and hold 5061.
TEST_F(SipOverTls, ANamedPbxIsCalledOnPort5061NamedInTheHandshakeAndCheckedByName) {
  const TempDir& dir = dir_;
  if (!EnterPrivateNetwork(dir.path())) GTEST_SKIP() << "needs root for a network namespace of its own";
  ASSERT_TRUE(MakeCertificate(dir.path(), "pbx", "pbx.office.test"));
  OneNameServer names("pbx.office.test");
  ASSERT_TRUE(names.bound());
  CalleeProcess callee(dir.path(), 5061, 20000, 20099, dir.path() + "/pbx.pem");
  ASSERT_TRUE(callee.WaitUntilReady());
  talmery::Config config = TlsGatewayConfig(dir.path() + "/calls.db", 5070);  // sip_port 5080
  config.sip.srtp = true;
  config.sip.tlsCaFile = dir.path() + "/pbx.crt";
  config.sip.dial = "sip:{number}@pbx.office.test";
  std::string error;
  ASSERT_TRUE(talmery::ValidateConfig(config, error)) << error;
  ASSERT_TRUE(StartGateway(config));
  const long long id = Post("5550100", "Budget review.");
  const nlohmann::json end = WaitForState(Port(), id, "done", 30000);
  EXPECT_EQ(end["state"], "done") << end.dump(1);
  // TLS holds sip_port; UDP's sip_port is nobody's.
  const auto bindsOrConnects = [](int type, bool connectTo) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(5080);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = (connectTo ? connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at)
                               : bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at)) == 0;
    close(fd);
    return ok;
  };
  EXPECT_TRUE(bindsOrConnects(SOCK_STREAM, true));
  EXPECT_TRUE(bindsOrConnects(SOCK_DGRAM, false));
  const std::string counts = callee.Stop();
  EXPECT_TRUE(std::regex_match(counts, std::regex("ready\nanswered 1, closed 1, srtcp [1-9][0-9]*, unauthenticated 0, "
                                                  "server name pbx.office.test\n")))
      << counts;
}

}  // namespace
}  // namespace gwtest
