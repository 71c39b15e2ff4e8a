#include "agent/calls/tls_channel.h"

// The newer credential structure (TLS_PARAMETERS) is declared only with the blocklist types.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/wide_text.h"

const char kGatewayTlsFailedText[] =
    "The secure connection (HTTPS) to the Talmery Gateway could not be set up: check that the gateway serves HTTPS "
    "on this port.";
const char kGatewayCertUntrustedText[] = "The Talmery Gateway's certificate is not trusted: ";
const char kGatewayCertExpiredText[] = "The Talmery Gateway's certificate has expired.";
const char kGatewayCertNotYetValidText[] = "The Talmery Gateway's certificate is not valid yet.";
const char kGatewayCertOtherNameText[] = "The Talmery Gateway's certificate is for another name than ";

namespace {

// Sequence and replay detection, encryption, a stream (records on a socket), buffers from the
// package; the certificate is checked by us (Open), never by the package alone.
constexpr ULONG kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                  ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

// What the package allocated for an output token, freed once sent.
struct ContextBufferFree {
  void operator()(void* p) const { FreeContextBuffer(p); }
};
using ContextBuffer = std::unique_ptr<void, ContextBufferFree>;

struct CertContextFree {
  void operator()(const CERT_CONTEXT* c) const { CertFreeCertificateContext(c); }
};
using CertContext = std::unique_ptr<const CERT_CONTEXT, CertContextFree>;

struct ChainFree {
  void operator()(const CERT_CHAIN_CONTEXT* c) const { CertFreeCertificateChain(c); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

DWORD TimeLeft(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

bool LimitTo(SOCKET s, int option, ULONGLONG deadline) {
  const DWORD left = TimeLeft(deadline);  // 0 would mean no limit at all
  return left > 0 && setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&left), sizeof left) == 0;
}

std::string Utf8(const WideText& text) {  // for the name in a message
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  }
  return out;
}

// The chain's own words on why its root is not trusted: a certificate that is its own issuer is
// self-signed; else its authority is one this computer does not trust, or none was found.
std::string UntrustedReason(const CERT_CHAIN_CONTEXT& chain) {
  if (chain.cChain > 0 && chain.rgpChain[0]->cElement > 0) {
    const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[0];
    const DWORD rootStatus = simple.rgpElement[simple.cElement - 1]->TrustStatus.dwInfoStatus;
    if (simple.cElement == 1 && (rootStatus & CERT_TRUST_IS_SELF_SIGNED)) return "it is self-signed";
    if (chain.TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) return "its issuing authority is unknown";
  }
  return "it was issued by an authority this computer does not trust";
}

}  // namespace

TlsChannel::~TlsChannel() {
  if (haveContext_) DeleteSecurityContext(&context_);
  if (haveCredentials_) FreeCredentialsHandle(&credentials_);
}

bool TlsChannel::SendAll(const char* data, size_t size) {
  while (size > 0) {
    if (!LimitTo(socket_, SO_SNDTIMEO, deadline_)) {
      WSASetLastError(WSAETIMEDOUT);
      return false;
    }
    const int n = send(socket_, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

int TlsChannel::ReadMore() {
  if (!LimitTo(socket_, SO_RCVTIMEO, deadline_)) {
    WSASetLastError(WSAETIMEDOUT);
    return -1;
  }
  char buffer[8192];
  const int n = recv(socket_, buffer, sizeof buffer, 0);
  if (n > 0) in_.append(buffer, static_cast<size_t>(n));
  return n;
}

std::string TlsChannel::Open(SOCKET s, const wchar_t* serverName, ULONGLONG deadline, const char* timedOut,
                             const char* broken) {
  socket_ = s;
  deadline_ = deadline;
  const auto failed = [&]() -> std::string {
    return WSAGetLastError() == WSAETIMEDOUT || TimeLeft(deadline_) == 0 ? timedOut : broken;
  };

  // TLS 1.2 and later only. The newer credential structure is asked first; a system that does not
  // know it gets the older one with the same versions.
  TLS_PARAMETERS tls{};
  tls.grbitDisabledProtocols = static_cast<DWORD>(~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
  SCH_CREDENTIALS modern{};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &tls;
  TimeStamp expiry{};
  wchar_t package[] = UNISP_NAME_W;
  SECURITY_STATUS status = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern,
                                                     nullptr, nullptr, &credentials_, &expiry);
  if (status != SEC_E_OK) {
    SCHANNEL_CRED older{};
    older.dwVersion = SCHANNEL_CRED_VERSION;
    older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
    older.dwFlags = modern.dwFlags;
    status = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &older, nullptr, nullptr,
                                       &credentials_, &expiry);
  }
  if (status != SEC_E_OK) return kGatewayTlsFailedText;
  haveCredentials_ = true;

  WideText target = serverName;  // the name the gateway is asked for (SNI)
  bool first = true;
  for (;;) {
    SecBuffer inBuffers[2] = {{static_cast<ULONG>(in_.size()), SECBUFFER_TOKEN, in_.empty() ? nullptr : &in_[0]},
                              {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
    SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
    ULONG attributes = 0;
    status = InitializeSecurityContextW(&credentials_, first ? nullptr : &context_, &target[0], kContextRequest, 0,
                                        0, first ? nullptr : &inDesc, 0, first ? &context_ : nullptr, &outDesc,
                                        &attributes, &expiry);
    if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE)) {
      haveContext_ = true;
    }
    first = false;
    const ContextBuffer token(outBuffer.pvBuffer);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      const int n = ReadMore();
      if (n == 0) return kGatewayTlsFailedText;
      if (n < 0) return failed();
      continue;
    }
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
      // An alert for the peer may come with the failure; the gateway learns as much from the close.
      return kGatewayTlsFailedText;
    }
    if (outBuffer.cbBuffer > 0 && outBuffer.pvBuffer &&
        !SendAll(static_cast<const char*>(outBuffer.pvBuffer), outBuffer.cbBuffer)) {
      return failed();
    }
    // What the package did not use belongs to the next step (or, at the end, to the first record).
    if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer > 0 &&
        inBuffers[1].cbBuffer <= in_.size()) {
      in_.erase(0, in_.size() - inBuffers[1].cbBuffer);
    } else {
      in_.clear();
    }
    if (status == SEC_E_OK) break;
    if (in_.empty()) {
      const int n = ReadMore();
      if (n == 0) return kGatewayTlsFailedText;
      if (n < 0) return failed();
    }
  }

  const std::string refused = CheckCertificate(serverName);
  if (!refused.empty()) return refused;
  if (QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK ||
      sizes_.cbMaximumMessage == 0) {
    return kGatewayTlsFailedText;
  }
  return std::string();
}

std::string TlsChannel::CheckCertificate(const wchar_t* serverName) {
  const CERT_CONTEXT* remote = nullptr;
  if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) != SEC_E_OK || !remote) {
    return std::string(kGatewayCertUntrustedText) + "it sent none.";
  }
  const CertContext certificate(remote);
  return CheckServerCertificate(certificate.get(), serverName);
}

std::string CheckServerCertificate(const CERT_CONTEXT* certificate, const wchar_t* serverName) {
  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  char* usages[] = {serverAuth};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  const CERT_CHAIN_CONTEXT* built = nullptr;
  if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                               &built) ||
      !built) {
    return std::string(kGatewayCertUntrustedText) + "its chain could not be built.";
  }
  const Chain chain(built);

  WideText name = serverName;
  HTTPSPolicyCallbackData https{};
  https.cbStruct = sizeof https;
  https.dwAuthType = AUTHTYPE_SERVER;
  https.pwszServerName = &name[0];
  CERT_CHAIN_POLICY_PARA policyPara{};
  policyPara.cbSize = sizeof policyPara;
  policyPara.pvExtraPolicyPara = &https;
  CERT_CHAIN_POLICY_STATUS policy{};
  policy.cbSize = sizeof policy;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policyPara, &policy)) {
    return std::string(kGatewayCertUntrustedText) + "it could not be checked.";
  }
  // The policy's verdict first; then the chain's own status, which the policy of some systems
  // does not fully weigh (a chain that ends at a certificate whose issuer is nowhere to be found
  // passes Wine's SSL policy): any error of trust in it refuses the certificate as well.
  HRESULT error = static_cast<HRESULT>(policy.dwError);
  const DWORD trust = chain->TrustStatus.dwErrorStatus &
                      ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
  if (error == S_OK && trust != 0) {
    if (trust & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
      error = CERT_E_UNTRUSTEDROOT;
    } else if (trust & CERT_TRUST_IS_NOT_TIME_VALID) {
      error = CERT_E_EXPIRED;
    } else if (trust & CERT_TRUST_IS_REVOKED) {
      error = CERT_E_REVOKED;
    } else if (trust & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) {
      error = CERT_E_WRONG_USAGE;
    } else {
      error = TRUST_E_FAIL;
    }
  }
  switch (error) {
    case S_OK:
      return std::string();
    case CERT_E_EXPIRED: {
      FILETIME now{};
      GetSystemTimeAsFileTime(&now);
      return CompareFileTime(&now, &certificate->pCertInfo->NotBefore) < 0 ? kGatewayCertNotYetValidText
                                                                           : kGatewayCertExpiredText;
    }
    case CERT_E_CN_NO_MATCH:
      return std::string(kGatewayCertOtherNameText) + Utf8(serverName) + ".";
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
      return std::string(kGatewayCertUntrustedText) + UntrustedReason(*chain) + ".";
    case CERT_E_REVOKED:
      return std::string(kGatewayCertUntrustedText) + "it has been revoked.";
    case CERT_E_WRONG_USAGE:
      return std::string(kGatewayCertUntrustedText) + "it is not meant for a server.";
    default: {
      char code[16];
      wsprintfA(code, "0x%08lX", static_cast<unsigned long>(error));
      return std::string(kGatewayCertUntrustedText) + "the system's check failed with " + code + ".";
    }
  }
}

int TlsChannel::Send(const char* data, int size) {
  // One record at a time: header, the text encrypted in place, trailer.
  std::string record;
  int sent = 0;
  while (sent < size) {
    const ULONG chunk = std::min<ULONG>(static_cast<ULONG>(size - sent), sizes_.cbMaximumMessage);
    record.assign(sizes_.cbHeader + chunk + sizes_.cbTrailer, '\0');
    std::memcpy(&record[sizes_.cbHeader], data + sent, chunk);
    SecBuffer buffers[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, &record[0]},
                            {chunk, SECBUFFER_DATA, &record[sizes_.cbHeader]},
                            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, &record[sizes_.cbHeader + chunk]},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    if (EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) {
      WSASetLastError(WSAECONNRESET);
      return -1;
    }
    if (!SendAll(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer)) return -1;
    sent += static_cast<int>(chunk);
  }
  return sent;
}

int TlsChannel::Receive(char* buffer, int size) {
  while (plain_.empty() && !ended_) {
    if (!in_.empty()) {
      SecBuffer buffers[4] = {{static_cast<ULONG>(in_.size()), SECBUFFER_DATA, &in_[0]},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
      if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
        std::string extra;
        for (const SecBuffer& b : buffers) {
          if (b.BufferType == SECBUFFER_DATA && b.pvBuffer) plain_.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
          if (b.BufferType == SECBUFFER_EXTRA && b.pvBuffer) extra.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
        }
        in_ = std::move(extra);
        // The gateway's close_notify ends its data as a close would; a renegotiation (or TLS 1.3's
        // messages after the handshake) is not asked for by a client that sends one request.
        if (status == SEC_I_CONTEXT_EXPIRED) ended_ = true;
        if (status == SEC_I_RENEGOTIATE && plain_.empty()) {
          WSASetLastError(WSAECONNRESET);
          return -1;
        }
        continue;
      }
      if (status != SEC_E_INCOMPLETE_MESSAGE) {
        WSASetLastError(WSAECONNRESET);
        return -1;
      }
    }
    const int n = ReadMore();
    if (n < 0) return -1;
    if (n == 0) ended_ = true;  // a close without close_notify: what arrived is all there is
  }
  if (plain_.empty()) return 0;
  const int n = std::min<int>(size, static_cast<int>(plain_.size()));
  std::memcpy(buffer, plain_.data(), static_cast<size_t>(n));
  plain_.erase(0, static_cast<size_t>(n));
  return n;
}
