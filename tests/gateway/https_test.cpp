// HTTPS on `listen`: the call requests, pages and refusals of plain HTTP, through a real TLS
// client (OpenSSL, the certificate checked against the one the gateway was given); only
// TLS 1.2 and 1.3 with AEAD ciphers; the certificate files checked at the start; a reload that
// gives new connections the new certificate while a request in progress completes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <vector>
#include <thread>

#include "tests/gateway/test_support.h"
#include "tests/gateway/tls_client.h"

namespace gwtest {
namespace {

const char kGood[] = "calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=Your+appointment+reminder.";

std::string Request(const std::string& body, const std::string& extraHeaders = "") {
  return "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: gw\r\nContent-Type: application/x-www-form-urlencoded\r\n" +
         extraHeaders + "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

class HttpsTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeServerCertificate(dir_.path(), "gw"); }
  talmery::Config HttpsConfig() {
    talmery::Config c = SpeakerConfig(dir_.path());
    c.requestSeconds = 1;
    c.tlsCertificate = dir_.path() + "/gw.crt";
    c.tlsKey = dir_.path() + "/gw.key";
    return c;
  }
  void Start(const talmery::Config& c) {
    gateway_ = std::make_unique<InProcessGateway>(c);
    std::string error;
    ASSERT_TRUE(gateway_->Start(error)) << error;
    port_ = gateway_->Port();
  }
  std::string Ca() const { return dir_.path() + "/gw.crt"; }
  std::string Post(const std::string& body, const std::string& headers = "") {
    TlsClient client(port_, Ca());
    EXPECT_TRUE(client.Connected()) << client.Error();
    return client.Exchange(Request(body, headers));
  }

  TempDir dir_;
  std::unique_ptr<InProcessGateway> gateway_;
  int port_ = 0;
};

// The handshakes the gateway takes and those it refuses: a refused hello reaches the gateway,
// which hangs up on it, so that the refusal is the gateway's, not the client's.
TEST_F(HttpsTest, OnlyTls12And13WithAeadCiphersAreTaken) {
  Start(HttpsConfig());
  const struct {
    const char* name;
    Offer offer;
    const char* version;  // nullptr: refused
  } cases[] = {
      {"defaults", {}, "TLSv1.3"},
      {"1.2 alone", {TLS1_2_VERSION, TLS1_2_VERSION, nullptr}, "TLSv1.2"},
      {"1.2 with ChaCha20 alone", {TLS1_2_VERSION, TLS1_2_VERSION, "ECDHE-RSA-CHACHA20-POLY1305"}, "TLSv1.2"},
      {"1.1 alone", {TLS1_1_VERSION, TLS1_1_VERSION, "DEFAULT:@SECLEVEL=0"}, nullptr},
      {"1.0 alone", {TLS1_VERSION, TLS1_VERSION, "DEFAULT:@SECLEVEL=0"}, nullptr},
      {"1.2 with CBC ciphers alone",
       {TLS1_2_VERSION, TLS1_2_VERSION, "ECDHE-RSA-AES128-SHA256:ECDHE-RSA-AES256-SHA384:ECDHE-RSA-AES128-SHA:AES128-SHA"},
       nullptr},
      {"1.2 with RSA key exchange alone", {TLS1_2_VERSION, TLS1_2_VERSION, "AES128-GCM-SHA256:AES256-GCM-SHA384"}, nullptr},
  };
  int accepted = 0;
  for (const auto& c : cases) {
    TlsClient client(port_, Ca(), c.offer);
    if (!c.version) {
      EXPECT_FALSE(client.Connected()) << c.name << " was taken as " << client.Version();
      // The hello went out and the gateway hung up on it (a client refusing its own offer would
      // say "no protocols available" or "no ciphers available").
      EXPECT_NE(client.Error().find("unexpected eof while reading"), std::string::npos) << c.name << ": " << client.Error();
      continue;
    }
    ASSERT_TRUE(client.Connected()) << c.name << ": " << client.Error();
    EXPECT_EQ(client.Version(), c.version) << c.name;
    EXPECT_EQ(BodyOf(client.Exchange(Request(kGood))), "[" + std::to_string(++accepted) + "]\r\n") << c.name;
  }
  EXPECT_TRUE(gateway_->WaitForLog(
      "event=refused from=127.0.0.1 reason=\"no request came over TLS (the handshake failed, or the head was malformed)\"", 5000))
      << gateway_->LogText();
  EXPECT_NE(gateway_->LogText().find("tls=1.2,1.3"), std::string::npos) << gateway_->LogText();
}

// What plain HTTP refuses is refused over TLS with the same answer, and the pages are served.
TEST_F(HttpsTest, TheAnswersOfPlainHttpHoldOverTls) {
  Start(HttpsConfig());
  const struct {
    std::string request;
    std::string firstLine, body;
  } cases[] = {
      {Request(kGood), "HTTP/1.1 200 OK", "[1]\r\n"},
      {Request(kGood, "Origin: https://intranet.example\r\n"), "HTTP/1.1 200 OK",
       "ERROR: calls are not taken from web browsers (the request has a Origin header)\r\n"},
      {Request(std::string(300 * 1024, 'x')), "HTTP/1.1 200 OK", "ERROR: the request is larger than 256 KB\r\n"},
      {"GET /calls/1 HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n\r\n", "HTTP/1.1 200 OK", ""},
      {"GET / HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n\r\n", "HTTP/1.1 200 OK", ""},
      {"GET /metrics HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n\r\n", "HTTP/1.1 200 OK", ""},
      {"GET /nothing HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n\r\n", "HTTP/1.1 404 Not Found", "not found\n"},
  };
  for (const auto& c : cases) {
    TlsClient client(port_, Ca());
    ASSERT_TRUE(client.Connected()) << client.Error();
    const std::string answer = client.Exchange(c.request);
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), c.firstLine) << c.request.substr(0, 40);
    if (!c.body.empty()) EXPECT_EQ(BodyOf(answer), c.body) << c.request.substr(0, 40);
  }
  TlsClient page(port_, Ca()), metrics(port_, Ca()), call(port_, Ca());
  EXPECT_NE(page.Exchange("GET / HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n\r\n").find("<html"), std::string::npos);
  EXPECT_NE(metrics.Exchange("GET /metrics HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n\r\n")
                .find("\ntalmery_calls_accepted_total "),
            std::string::npos);
  EXPECT_NE(call.Exchange("GET /calls/1 HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n\r\n").find("\"number\": \"55***00\""),
            std::string::npos);
}

// Plain HTTP on the HTTPS port gets no HTTP answer and places no call; a head trickled into the
// handshake and a connection that never begins one are cut at request_seconds; without
// listen_plain nothing listens in clear.
TEST_F(HttpsTest, PlainSlowAndSilentClientsGetNothing) {
  Start(HttpsConfig());
  EXPECT_EQ(gateway_->PlainPort(), 0);
  const std::string plain = Exchange(port_, Request(kGood), 5000);
  EXPECT_EQ(plain.find("HTTP/"), std::string::npos) << plain;
  EXPECT_EQ(plain.find('['), std::string::npos) << plain;

  const int trickler = ConnectTo(port_);
  const int silent = ConnectTo(port_);
  ASSERT_GE(trickler, 0);
  ASSERT_GE(silent, 0);
  // The start of a ClientHello record, a byte every 100 ms: 3 s in all, the server's time 1 s.
  const std::string hello = std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + std::string(19, 'r');
  size_t trickled = 0;
  std::thread trickle([&] {
    for (; trickled < hello.size(); ++trickled) {
      if (send(trickler, &hello[trickled], 1, MSG_NOSIGNAL) != 1) break;
      usleep(100 * 1000);
    }
  });
  EXPECT_EQ(BodyOf(Post(kGood)), "[1]\r\n");  // the plain request above placed nothing
  std::string fromTrickled, fromSilent;
  EXPECT_TRUE(ReadUntilClosed(trickler, 10000, fromTrickled));
  EXPECT_TRUE(ReadUntilClosed(silent, 10000, fromSilent));
  trickle.join();
  // At most the TLS library's close_notify alert: no HTTP answer.
  const std::string closeNotify("\x15\x03\x03\x00\x02\x01\x00", 7);
  EXPECT_TRUE(fromTrickled.empty() || fromTrickled == closeNotify) << fromTrickled.size();
  EXPECT_TRUE(fromSilent.empty() || fromSilent == closeNotify) << fromSilent.size();
  EXPECT_LT(trickled, hello.size()) << "the handshake was let run to its end";
  close(trickler);
  close(silent);
  EXPECT_TRUE(gateway_->WaitForLog("event=refused from=127.0.0.1 reason=\"the request took too long\"\n", 5000))
      << gateway_->LogText();
  EXPECT_TRUE(gateway_->WaitForLog("event=refused from=127.0.0.1 reason=\"nothing was sent within 1 s\"\n", 5000))
      << gateway_->LogText();
}

// Who is no client is turned away before the handshake; a client's connections are limited.
TEST_F(HttpsTest, ClientsAndTheirConnectionsAreCheckedBeforeTheHandshake) {
  talmery::Config c = HttpsConfig();
  talmery::AddressBlock only;
  std::string error;
  ASSERT_TRUE(talmery::ParseAddressBlock("127.0.0.1/32", only, error)) << error;
  c.clients = {only};
  c.clientsSet = true;
  c.metricsClients = {only};
  c.clientConnections = 2;
  Start(c);
  TlsClient stranger(port_, Ca(), {}, "127.0.0.3");
  EXPECT_FALSE(stranger.Connected());
  TlsClient first(port_, Ca()), second(port_, Ca());
  ASSERT_TRUE(first.Connected()) << first.Error();
  ASSERT_TRUE(second.Connected()) << second.Error();
  TlsClient third(port_, Ca());
  EXPECT_FALSE(third.Connected());
  EXPECT_EQ(BodyOf(first.Exchange(Request(kGood))), "[1]\r\n");
  EXPECT_TRUE(gateway_->WaitForLog("event=refused from=127.0.0.3 reason=\"not among the clients of this gateway\"", 5000))
      << gateway_->LogText();
  EXPECT_TRUE(gateway_->WaitForLog("event=refused from=127.0.0.1 reason=\"more than 2 connections open at once\"", 5000))
      << gateway_->LogText();
}

// listen_plain: the same requests in clear beside HTTPS, for the agents not moved yet.
TEST_F(HttpsTest, ListenPlainServesInClearBesideHttps) {
  talmery::Config c = HttpsConfig();
  c.listenPlainHost = "127.0.0.1";
  c.listenPlainPort = 0;
  Start(c);
  ASSERT_GT(gateway_->PlainPort(), 0);
  EXPECT_NE(gateway_->PlainPort(), port_);
  EXPECT_EQ(BodyOf(PostCall(gateway_->PlainPort(), kGood)), "[1]\r\n");
  EXPECT_EQ(BodyOf(Post(kGood)), "[2]\r\n");
  EXPECT_NE(gateway_->LogText().find("listen_plain=127.0.0.1:" + std::to_string(gateway_->PlainPort())), std::string::npos)
      << gateway_->LogText();
}

// Files that cannot serve stop the start, with the file named.
TEST_F(HttpsTest, BadCertificateFilesStopTheStart) {
  const std::string d = dir_.path();
  MakeServerCertificate(d, "other");
  WriteFile(d + "/open.key", ReadFile(d + "/gw.key"));
  chmod((d + "/open.key").c_str(), 0644);
  WriteFile(d + "/garbage.crt", "not a certificate\n");
  WriteFile(d + "/garbage.key", "not a key\n");
  chmod((d + "/garbage.key").c_str(), 0600);
  const struct {
    std::string certificate, key, error;
  } cases[] = {
      {d + "/gw.crt", d + "/open.key",
       "tls_key: " + d + "/open.key has mode 0644: other users may read it; it must be readable by the gateway's user alone (chmod 0600)"},
      {d + "/gw.crt", d + "/other.key",
       "tls_key: " + d + "/other.key is not the key of the certificate in " + d +
           "/gw.crt (the first certificate there must be the gateway's own)"},
      {d + "/missing.crt", d + "/gw.key", "tls_certificate: cannot read " + d + "/missing.crt: No such file or directory"},
      {d + "/gw.crt", d + "/missing.key", "tls_key: cannot read " + d + "/missing.key: No such file or directory"},
      {d + "/garbage.crt", d + "/gw.key",
       "tls_certificate: " + d + "/garbage.crt holds no PEM certificate (-----BEGIN CERTIFICATE-----)"},
      {d + "/gw.crt", d + "/garbage.key",
       "tls_key: " + d + "/garbage.key holds no PEM private key that can be read without a pass phrase"},
  };
  std::vector<std::array<std::string, 3>> rows;
  for (const auto& c : cases) rows.push_back({c.certificate, c.key, c.error});
  // A key of another user's (only root can give a file away).
  WriteFile(d + "/others.key", ReadFile(d + "/gw.key"));
  chmod((d + "/others.key").c_str(), 0600);
  if (geteuid() == 0 && chown((d + "/others.key").c_str(), 65534, 65534) == 0)
    rows.push_back({d + "/gw.crt", d + "/others.key",
                    "tls_key: " + d + "/others.key is owned by user 65534, not by the user the gateway runs as (0): give it to "
                                      "that user, mode 0600"});
  for (const auto& [certificate, key, message] : rows) {
    talmery::Config config = HttpsConfig();
    config.tlsCertificate = certificate;
    config.tlsKey = key;
    InProcessGateway gateway(config);
    std::string error;
    EXPECT_FALSE(gateway.Start(error)) << message;
    EXPECT_EQ(error, message);
  }
  // A chain (ours, then an authority's) is taken whole.
  WriteFile(d + "/chain.crt", ReadFile(d + "/gw.crt") + ReadFile(d + "/other.crt"));
  talmery::Config chained = HttpsConfig();
  chained.tlsCertificate = d + "/chain.crt";
  Start(chained);
  EXPECT_EQ(BodyOf(Post(kGood)), "[1]\r\n");
}

// A reload takes the files on disk: a request in progress on the old certificate completes, new
// connections get the new one; files that cannot serve leave the current ones served.
TEST_F(HttpsTest, AReloadTakesTheNewCertificateWithoutDroppingARequest) {
  talmery::Config c = HttpsConfig();
  c.requestSeconds = 5;
  Start(c);
  const std::string d = dir_.path();
  TlsClient before(port_, Ca());
  ASSERT_TRUE(before.Connected()) << before.Error();
  const std::string oldPrint = before.PeerFingerprint();
  const std::string request = Request(kGood);
  const size_t half = request.size() - 20;
  ASSERT_TRUE(before.Send(request.substr(0, half)));  // the head and some of the body

  MakeServerCertificate(d, "renewed");
  ASSERT_EQ(rename((d + "/renewed.crt").c_str(), (d + "/gw.crt").c_str()), 0);
  ASSERT_EQ(rename((d + "/renewed.key").c_str(), (d + "/gw.key").c_str()), 0);
  std::string error;
  ASSERT_TRUE(gateway_->Reload(error)) << error;

  TlsClient after(port_, Ca());  // Ca() is the renewed certificate now
  ASSERT_TRUE(after.Connected()) << after.Error();
  EXPECT_NE(after.PeerFingerprint(), oldPrint);
  EXPECT_EQ(BodyOf(after.Exchange(Request(kGood))), "[1]\r\n");
  // Long enough for the server's sweeps (every 100 ms) to have looked at the old daemon: one
  // connection is still open on it, so it must still be there.
  usleep(500 * 1000);
  ASSERT_TRUE(before.Send(request.substr(half)));
  EXPECT_EQ(BodyOf(before.ReadAll()), "[2]\r\n");

  chmod((d + "/gw.key").c_str(), 0640);
  EXPECT_FALSE(gateway_->Reload(error));
  EXPECT_EQ(error, "tls_key: " + d +
                       "/gw.key has mode 0640: other users may read it; it must be readable by the gateway's user alone (chmod 0600)");
  TlsClient still(port_, Ca());
  ASSERT_TRUE(still.Connected()) << still.Error();
  EXPECT_EQ(still.PeerFingerprint(), after.PeerFingerprint());
  EXPECT_TRUE(gateway_->WaitForLog("event=reload tls_certificate=" + d + "/gw.crt tls_key=" + d + "/gw.key\n", 5000))
      << gateway_->LogText();
  EXPECT_TRUE(gateway_->WaitForLog("kept=\"the certificate served so far\"", 5000)) << gateway_->LogText();
}

// The program itself: systemctl reload's SIGHUP takes the renewed files, and the gateway goes on.
TEST_F(HttpsTest, SighupReloadsTheCertificateOfTheRunningProgram) {
  const std::string d = dir_.path();
  const std::string config = d + "/gateway.conf", log = d + "/gateway.log";
  WriteFile(config, "listen = 127.0.0.1:0\nmode = speaker\nspeaker_dir = " + d + "/speaker\ndatabase = " + d +
                        "/calls.db\ntls_certificate = " + d + "/gw.crt\ntls_key = " + d + "/gw.key\n");
  GatewayProcess gateway(config, log);
  ASSERT_TRUE(gateway.WaitUntilServing(20000)) << ReadFile(log);
  const std::string text = ReadFile(log);
  const size_t at = text.find("listen=127.0.0.1:");
  ASSERT_NE(at, std::string::npos) << text;
  port_ = std::stoi(text.substr(at + 17));
  TlsClient before(port_, Ca());
  ASSERT_TRUE(before.Connected()) << before.Error();

  MakeServerCertificate(d, "renewed");
  ASSERT_EQ(rename((d + "/renewed.crt").c_str(), (d + "/gw.crt").c_str()), 0);
  ASSERT_EQ(rename((d + "/renewed.key").c_str(), (d + "/gw.key").c_str()), 0);
  gateway.Kill(SIGHUP);
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(log).find("event=reload ") != std::string::npos; }, 10000)) << ReadFile(log);
  TlsClient after(port_, Ca());
  ASSERT_TRUE(after.Connected()) << after.Error() << ReadFile(log);
  EXPECT_NE(after.PeerFingerprint(), before.PeerFingerprint());
  EXPECT_EQ(BodyOf(after.Exchange(Request(kGood))), "[1]\r\n");
  gateway.Kill(SIGTERM);
  EXPECT_EQ(gateway.Wait(20000), 0) << ReadFile(log);
}

}  // namespace
}  // namespace gwtest
