#include "tests/gateway/tls_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "tests/gateway/test_support.h"

namespace gwtest {

void MakeServerCertificate(const std::string& dir, const std::string& name, const std::string& host) {
  ASSERT_TRUE(MakeCertificate(dir, name, host));
  ASSERT_EQ(chmod((dir + "/" + name + ".key").c_str(), 0600), 0);
}

TlsClient::TlsClient(int port, const std::string& caFile, const Offer& offer, const std::string& source,
                     const std::string& name) {
  signal(SIGPIPE, SIG_IGN);  // OpenSSL writes to sockets that the gateway may have closed
  ctx_ = SSL_CTX_new(TLS_client_method());
  // Security level 0 so that this client really offers TLS 1.1 or CBC when asked: the refusal
  // under test is the gateway's, never the client's own.
  SSL_CTX_set_security_level(ctx_, 0);
  SSL_CTX_set_min_proto_version(ctx_, offer.minVersion);
  SSL_CTX_set_max_proto_version(ctx_, offer.maxVersion);
  if (offer.ciphers) SSL_CTX_set_cipher_list(ctx_, offer.ciphers);
  SSL_CTX_load_verify_locations(ctx_, caFile.c_str(), nullptr);
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
  fd_ = ConnectTo(port, source);
  if (fd_ < 0) {
    error_ = "cannot connect";
    return;
  }
  ssl_ = SSL_new(ctx_);
  SSL_set_fd(ssl_, fd_);
  SSL_set1_host(ssl_, name.c_str());
  in_addr address{};
  if (inet_pton(AF_INET, name.c_str(), &address) != 1) SSL_set_tlsext_host_name(ssl_, name.c_str());
  if (SSL_connect(ssl_) == 1) {
    connected_ = true;
  } else {
    char text[256];
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    error_ = text;
  }
  ERR_clear_error();
}

TlsClient::~TlsClient() {
  if (ssl_) SSL_free(ssl_);
  if (fd_ >= 0) close(fd_);
  SSL_CTX_free(ctx_);
}

std::string TlsClient::PeerFingerprint() const {
  X509* peer = connected_ ? SSL_get1_peer_certificate(ssl_) : nullptr;
  if (!peer) return "";
  unsigned char digest[32];
  unsigned n = 0;
  X509_digest(peer, EVP_sha256(), digest, &n);
  X509_free(peer);
  std::string hex;
  char two[3];
  for (unsigned i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return hex;
}

bool TlsClient::Send(const std::string& bytes) {
  return connected_ && SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
}

std::string TlsClient::ReadAll(int timeoutMs) {
  std::string got;
  if (!connected_) return got;
  char buffer[4096];
  for (;;) {
    if (SSL_pending(ssl_) == 0) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) break;
    }
    const int n = SSL_read(ssl_, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  ERR_clear_error();
  return got;
}

std::string GatewayClient::Exchange(const std::string& request) const {
  if (caFile_.empty()) return gwtest::Exchange(port_, request);
  TlsClient client(port_, caFile_, {}, "", name_);
  if (!client.Connected()) return "(no TLS connection: " + client.Error() + ")";
  return client.Exchange(request);
}

std::string GatewayClient::PostCall(const std::string& body) const {
  return Exchange("POST /ocall/callreqHandler.jsp HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                  "Host: " + name_ + "\r\nContent-Length: " + std::to_string(body.size()) +
                  "\r\nUser-Agent: Brisomel\r\nConnection: close\r\n\r\n" + body);
}

nlohmann::json GatewayClient::CallStatus(long long id) const {
  const std::string response =
      Exchange("GET /calls/" + std::to_string(id) + " HTTP/1.1\r\nHost: " + name_ + "\r\nConnection: close\r\n\r\n");
  if (response.compare(0, 12, "HTTP/1.1 200") != 0) return nullptr;
  return nlohmann::json::parse(BodyOf(response), nullptr, false);
}

nlohmann::json GatewayClient::WaitForState(long long id, const std::string& state, int timeoutMs) const {
  nlohmann::json status;
  WaitUntil(
      [&] {
        status = CallStatus(id);
        return status.is_object() && status["state"] == state;
      },
      timeoutMs, 50);
  return status;
}

}  // namespace gwtest
