// Prints how long one MakeReminderCall takes against the loopback stand-in gateway, beside a bare
// WinINet POST of the same bytes, measured alternately in the same run; then, given a real call
// server (tools/bench/calls_bench.sh starts one), MakeReminderCall to it in clear and over HTTPS,
// alternately, with the HTTPS median and p95 over the clear ones. Never asserts.
// Usage: calls_bench [runs]   (default 200). Needs a prefix without Brisomel settings: it writes
// its own and removes them again. The real server's series runs when these are set:
//   BRISOMEL_BENCH_CA          the test authority that issued the server's certificate (trusted in
//                              the machine store for the run), a Windows path
//   BRISOMEL_BENCH_HTTPS_PORT  the server's HTTPS listener, with a certificate for localhost
//   BRISOMEL_BENCH_CLEAR_PORT  its listener in clear (listen_plain)
// and, with BRISOMEL_BENCH_CERT (the server's certificate, a Windows path), the parts of the
// HTTPS leg alone.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "agent/calls/call_text.h"
#include "agent/calls/reminder_call.h"
#include "agent/calls/settings_store.h"
#include "agent/calls/tls_channel.h"
#include "common/win/socket.h"
#include "tests/support/internet_handle.h"
#include "tests/harness/registry.h"
#include "tests/harness/trusted_authority.h"
#include "tools/gateway/gateway_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// Composed at kNow, 15 minutes before the start.
const double kNow = 47484.5;  // 2030-01-01 12:00

std::unique_ptr<ReminderRecord> WorkedExample() {
  auto r = std::make_unique<ReminderRecord>();
  r->m_strPhone = "555-0100";
  r->m_strSubject = "Budget review";
  r->m_nMinutes = 15;
  r->start = kNow + 15 / 1440.0;
  return r;
}

// The same request as the product's, with nothing of the product around it.
bool BarePost(uint16_t port, const std::string& body) {
  win::InternetHandle session(
      InternetOpenA("Brisomel", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  win::InternetHandle connection(InternetConnectA(session.get(), "127.0.0.1", port, nullptr, nullptr,
                                                 INTERNET_SERVICE_HTTP, 0, 1));
  win::InternetHandle request(HttpOpenRequestA(connection.get(), "POST", kCallRequestPath, nullptr,
                                              nullptr, nullptr, INTERNET_FLAG_EXISTING_CONNECT, 1));
  if (!request) return false;
  HttpAddRequestHeadersA(request.get(), "Content-Type: application/x-www-form-urlencoded\r\n",
                         static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  if (!HttpSendRequestA(request.get(), nullptr, 0, const_cast<char*>(body.data()),
                        static_cast<DWORD>(body.size()))) {
    return false;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                 nullptr);
  char answer[1024];
  DWORD read = 0;
  return InternetReadFile(request.get(), answer, sizeof answer, &read) && status == 200 && read > 0;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Figures {
  double median = 0;
  double p95 = 0;
};

Figures Report(const char* name, std::vector<double> ms, int failures) {
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double v : ms) sum += v;
  const size_t n = ms.size();
  const Figures f{ms[n / 2], ms[std::min(n - 1, (n * 95) / 100)]};
  std::printf(
      "%-22s n=%zu  median %7.3f ms  p95 %7.3f ms  min %7.3f ms  mean %7.3f ms  failures %d\n",
      name, n, f.median, f.p95, ms.front(), sum / n, failures);
  return f;
}

uint16_t PortFrom(const char* variable) {
  const char* value = std::getenv(variable);
  return static_cast<uint16_t>(value ? std::atoi(value) : 0);
}

// The agent's whole path to a real call server, as it is configured: the host setting written
// https://localhost or localhost (the same name, so name resolution costs both the same), a new
// connection per request (and over HTTPS a full handshake with the certificate's chain checked),
// the server storing each call before it answers.
bool RealGatewaySeries(int runs, uint16_t clearPort, uint16_t httpsPort) {
  struct Leg {
    const char* host;
    uint16_t port;
    std::vector<double> ms;
    int failures = 0;
    std::string firstFailure;
  };
  Leg legs[2] = {{"localhost", clearPort, {}, 0, {}}, {"https://localhost", httpsPort, {}, 0, {}}};
  for (int i = -5; i < runs; ++i) {  // five warm-up rounds
    for (int order = 0; order < 2; ++order) {
      Leg& leg = legs[(order == 0) == (i % 2 == 0) ? 0 : 1];
      if (!SetHost(leg.host).Ok() || !SetPort(leg.port).Ok()) return false;
      const Clock::time_point start = Clock::now();
      const Outcome made = MakeReminderCall(WorkedExample(), kNow);
      const Clock::duration took = Clock::now() - start;
      if (i < 0) continue;
      leg.ms.push_back(Ms(took));
      if (!made.Ok()) {
        if (leg.failures++ == 0) leg.firstFailure = made.Message();
      }
    }
  }
  std::printf("One reminder call request to a real talmery-gateway on loopback, a new connection each (%d runs each):\n",
              runs);
  const Figures clear = Report("Real gateway, clear", legs[0].ms, legs[0].failures);
  const Figures https = Report("Real gateway, HTTPS", legs[1].ms, legs[1].failures);
  std::printf("Real gateway, HTTPS / clear: median %.2fx p95 %.2fx\n", https.median / clear.median,
              https.p95 / clear.p95);
  for (const Leg& leg : legs) {
    if (leg.failures) std::fprintf(stderr, "calls_bench: first failure to %s: %s\n", leg.host, leg.firstFailure.c_str());
  }
  return true;
}

// Where the HTTPS leg's time goes, each part alone in the way the agent does it: resolving
// localhost, a TCP connection to the HTTPS listener (both legs pay these), that connection with
// the agent's TlsChannel handshake and certificate check on it, and that check alone (the agent's
// CheckServerCertificate on the certificate of certificateFile). Nothing is sent on the TLS
// connections.
void HttpsParts(int runs, uint16_t httpsPort, const std::string& certificateFile) {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(httpsPort);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto connectOnly = [&to]() {
    win::Socket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (s && connect(s.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) s.reset();
    return s;
  };

  struct CertificateFree {
    void operator()(const CERT_CONTEXT* c) const { CertFreeCertificateContext(c); }
  };
  std::unique_ptr<const CERT_CONTEXT, CertificateFree> certificate;
  {
    std::string pem;
    if (FILE* f = std::fopen(certificateFile.c_str(), "rb")) {
      char buffer[4096];
      for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;) pem.append(buffer, got);
      std::fclose(f);
    }
    DWORD size = 0;
    if (!pem.empty() && CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
      std::string der(size, '\0');
      if (CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(&der[0]), &size,
                               nullptr, nullptr)) {
        certificate.reset(
            CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size));
      }
    }
  }

  std::vector<double> resolve, tcp, tls, chain;
  int resolveFailures = 0, tcpFailures = 0, tlsFailures = 0, chainFailures = 0;
  for (int i = -5; i < runs; ++i) {
    Clock::time_point start = Clock::now();
    ADDRINFOW hints{};
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* found = nullptr;
    const bool resolved = GetAddrInfoW(L"localhost", L"443", &hints, &found) == 0;
    if (found) FreeAddrInfoW(found);
    const double resolveMs = Ms(Clock::now() - start);

    start = Clock::now();
    const bool connected = static_cast<bool>(connectOnly());  // closed at once
    const double tcpMs = Ms(Clock::now() - start);

    start = Clock::now();
    std::string failure = "no connection";
    if (const win::Socket s = connectOnly()) {
      TlsChannel channel;
      failure = channel.Open(s.get(), L"localhost", GetTickCount64() + 30000, "timed out", "broken");
    }
    const double tlsMs = Ms(Clock::now() - start);

    start = Clock::now();
    // The agent's own check, as it runs after each handshake.
    const bool checked = certificate && CheckServerCertificate(certificate.get(), L"localhost").empty();
    const double chainMs = Ms(Clock::now() - start);
    if (i < 0) continue;
    resolve.push_back(resolveMs);
    resolveFailures += !resolved;
    tcp.push_back(tcpMs);
    tcpFailures += !connected;
    tls.push_back(tlsMs);
    tlsFailures += !failure.empty();
    chain.push_back(chainMs);
    chainFailures += !checked;
  }
  std::printf("Where the HTTPS time goes, each part alone (%d runs each):\n", runs);
  Report("Part, resolve", resolve, resolveFailures);
  Report("Part, TCP connect", tcp, tcpFailures);
  Report("Part, TCP + TLS open", tls, tlsFailures);
  Report("Part, chain check", chain, chainFailures);
  WSACleanup();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  if (harness::KeyExists(HKEY_CURRENT_USER, "Software\\Brisomel")) {
    std::fprintf(stderr,
                 "calls_bench: HKCU\\Software\\Brisomel exists; run it in a test prefix.\n");
    return 2;
  }
  harness::ScopedRegistryKey cleanup(HKEY_CURRENT_USER, "Software\\Brisomel");
  // Trusted before the first certificate is checked (the system reads its roots once a process).
  const char* authorityFile = std::getenv("BRISOMEL_BENCH_CA");
  harness::TrustedAuthority authority;
  if (authorityFile && !authority.Add(authorityFile)) {
    std::fprintf(stderr, "calls_bench: the test authority %s could not be trusted\n", authorityFile);
    return 2;
  }
  gateway::Server server;
  if (!server.Start()) {
    std::fprintf(stderr, "calls_bench: the stand-in gateway did not start\n");
    return 2;
  }
  server.SetAnswer({200, "OK", "[1]"});
  if (!SetHost("127.0.0.1").Ok() || !SetPort(server.Port()).Ok() || !SetFirstName("Ann").Ok() ||
      !SetLastName("Lee").Ok()) {
    std::fprintf(stderr, "calls_bench: the settings could not be stored\n");
    return 2;
  }
  const std::unique_ptr<ReminderRecord> example = WorkedExample();
  const std::string body = ComposeCallForm(*example->m_nMinutes, DialledNumber(example->m_strPhone),
                                           ComposeCallText(CallerName("Ann", "Lee"), *example, 15 * 60));

  std::vector<double> product, bare;
  int productFailures = 0, bareFailures = 0;
  for (int i = -5; i < runs; ++i) {  // five warm-up rounds
    for (int order = 0; order < 2; ++order) {
      // Alternate which goes first, so neither always meets a freshly woken server.
      const bool productTurn = (order == 0) == (i % 2 == 0);
      const size_t before = server.RequestCount();
      const Clock::time_point start = Clock::now();
      const bool ok =
          productTurn ? MakeReminderCall(WorkedExample(), kNow).Ok() : BarePost(server.Port(), body);
      const Clock::duration took = Clock::now() - start;
      const bool arrived = server.RequestCount() == before + 1;
      if (i < 0) continue;
      if (productTurn) {
        product.push_back(Ms(took));
        productFailures += !(ok && arrived);
      } else {
        bare.push_back(Ms(took));
        bareFailures += !(ok && arrived);
      }
    }
  }
  std::printf("One reminder call request to the loopback stand-in gateway (%d runs each):\n", runs);
  Report("MakeReminderCall", product, productFailures);
  Report("bare WinINet POST", bare, bareFailures);
  const uint16_t clearPort = PortFrom("BRISOMEL_BENCH_CLEAR_PORT");
  const uint16_t httpsPort = PortFrom("BRISOMEL_BENCH_HTTPS_PORT");
  if (authorityFile && clearPort && httpsPort && !RealGatewaySeries(runs, clearPort, httpsPort)) {
    std::fprintf(stderr, "calls_bench: the settings could not be stored\n");
    return 2;
  }
  if (const char* certificateFile = std::getenv("BRISOMEL_BENCH_CERT")) {
    if (httpsPort) HttpsParts(runs, httpsPort, certificateFile);
  }
  return 0;
}
