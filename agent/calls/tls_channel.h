#pragma once
// TLS on a connected socket of the gateway client, with the system's own TLS (Schannel through
// SSPI): the socket stays the client's, so its deadline, its shut-down from the waiting thread and
// its one-connection-per-request hold for HTTPS as for HTTP. The gateway's certificate is checked
// here, after the handshake and before any byte of the request goes out; no setting turns the
// check off.
#include <winsock2.h>
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <sspi.h>
#include <wincrypt.h>

#include <string>

// Why a secure connection failed (each names what the user or the administrator can act on).
extern const char kGatewayTlsFailedText[];      // the handshake failed (no TLS, no common version)
extern const char kGatewayCertUntrustedText[];  // followed by the reason and "."
extern const char kGatewayCertExpiredText[];
extern const char kGatewayCertNotYetValidText[];
extern const char kGatewayCertOtherNameText[];  // followed by the name asked for and "."

// The check of a server's certificate for serverName, against the system's store of trusted
// authorities: empty when it may be trusted, else why not (one of the texts above).
std::string CheckServerCertificate(const CERT_CONTEXT* certificate, const wchar_t* serverName);

class TlsChannel {
 public:
  TlsChannel() = default;
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;
  ~TlsChannel();

  // The handshake on the connected blocking socket s for serverName (the name as written, UTF-16),
  // each send and recv bounded by the time left before deadline (GetTickCount64), then the check
  // of the certificate. Empty when the channel may carry the request, else the failure text.
  // timedOut is the text for a deadline that passed meanwhile, broken for a connection lost.
  std::string Open(SOCKET s, const wchar_t* serverName, ULONGLONG deadline, const char* timedOut,
                   const char* broken);

  // As send and recv on the socket, for the plain text: bytes sent or received, 0 at the end of
  // the peer's data, -1 on failure with the Winsock error set (WSAECONNRESET for a TLS error).
  int Send(const char* data, int size);
  int Receive(char* buffer, int size);

 private:
  std::string CheckCertificate(const wchar_t* serverName);
  bool SendAll(const char* data, size_t size);
  int ReadMore();  // appends to in_: > 0 bytes, 0 at the end, -1 on failure

  SOCKET socket_ = INVALID_SOCKET;
  ULONGLONG deadline_ = 0;
  CredHandle credentials_{};
  bool haveCredentials_ = false;
  CtxtHandle context_{};
  bool haveContext_ = false;
  SecPkgContext_StreamSizes sizes_{};
  std::string in_;     // received bytes not yet decrypted
  std::string plain_;  // decrypted bytes not yet handed out
  bool ended_ = false;
};
