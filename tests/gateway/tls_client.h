#pragma once
// TLS from the clients' side: a throwaway server certificate, an OpenSSL client that trusts one
// authority and checks one name, and a client of the gateway in clear or over TLS, so that one
// test body can run over either transport.
#include <openssl/ssl.h>

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

namespace gwtest {

// The transport of a test's body that runs in clear and over TLS (a parameter of the test).
struct Transport {
  const char* name;
  bool tls;
};
inline void PrintTo(const Transport& t, std::ostream* out) { *out << t.name; }

// Makes <dir>/<name>.crt and .key for 127.0.0.1 (or the DNS name `host`), the key the service
// user's alone; the certificate is its own authority.
void MakeServerCertificate(const std::string& dir, const std::string& name, const std::string& host = "");

// What a client may offer: the versions and (for TLS 1.2 and below) the ciphers.
struct Offer {
  int minVersion = TLS1_2_VERSION;
  int maxVersion = TLS1_3_VERSION;
  const char* ciphers = nullptr;  // OpenSSL's names; nullptr: its defaults
};

// A TLS client connection to 127.0.0.1:port from `source` that trusts `caFile` alone and checks
// `name` in the certificate (also sent as the server name, unless it is an address).
class TlsClient {
 public:
  TlsClient(int port, const std::string& caFile, const Offer& offer = {}, const std::string& source = "",
            const std::string& name = "127.0.0.1");
  ~TlsClient();
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;

  bool Connected() const { return connected_; }
  const std::string& Error() const { return error_; }
  std::string Version() const { return connected_ ? SSL_get_version(ssl_) : ""; }
  // The SHA-256 of the certificate the gateway showed, in hex.
  std::string PeerFingerprint() const;
  bool Send(const std::string& bytes);
  // All that comes until the gateway closes (or timeoutMs passes).
  std::string ReadAll(int timeoutMs = 10000);
  std::string Exchange(const std::string& bytes) { return Send(bytes) ? ReadAll() : ""; }

 private:
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  int fd_ = -1;
  bool connected_ = false;
  std::string error_;
};

// A gateway at 127.0.0.1:port as a client reaches it: in clear, or (caFile given) over TLS,
// trusting caFile and checking `name`. Each request on a connection of its own.
class GatewayClient {
 public:
  explicit GatewayClient(int port, std::string caFile = "", std::string name = "127.0.0.1")
      : port_(port), caFile_(std::move(caFile)), name_(std::move(name)) {}
  // The whole answer to `request`; "(no TLS connection: ...)" when the handshake failed.
  std::string Exchange(const std::string& request) const;
  // A POST of `body` to the call path, as the agent sends it.
  std::string PostCall(const std::string& body) const;
  // GET /calls/<id> as JSON (null when there is no such call).
  nlohmann::json CallStatus(long long id) const;
  // Polls until the call is in `state` (or the time is up); the last status seen.
  nlohmann::json WaitForState(long long id, const std::string& state, int timeoutMs) const;

 private:
  int port_;
  std::string caFile_, name_;
};

}  // namespace gwtest
