// gateway_bench: the call server's figures for docs/performance.md (tools/bench-gateway.sh runs
// it on a build without sanitizers). Prints table rows "| measure | result | how |".
//   gateway_bench [requests, default 5000] [simultaneous calls, default 20]
// 1. Accepted requests per second: 16 keep-alive clients post for the whole run; each accepted
//    request is committed to the store (fsync) before its id is answered. The lines dial a port
//    that never answers (each holds one call for 32 s), so that the accepting path is what is
//    measured.
// 1b. A new connection for every request: plain HTTP, then HTTPS (a full TLS handshake each)
//    with an ECDSA P-256 certificate (as the README makes one) and an RSA 2048 one.
// 2. POST -> INVITE: a request posted, the INVITE read from a UDP socket that stands in for the
//    PBX (and answers 486, so that each call ends at once).
// 3. Simultaneous calls: that many calls at once to as many loopback phones; each phone's
//    recording is checked against the text.
// 4. The idle gateway's memory.
// 7. Scale: 100 and 200 calls at once to one libre callee (libre_callee.h) after a burst of as
//    many requests; time to the last answer, CPU and memory per call, every recording checked.
//    "secure": 100 calls at once the same way over TLS with SRTP.
//    "rush": the morning rush, 100 calls posted by 10 clients at once: how long each request
//    waits for its id while the calls accepted before it are claimed, dialled and spoken.
// 5. An honest request's latency while 300 clients trickle their heads and 1,100 hold idle
//    connections (each group spread over client addresses of 127/8, under the per-address cap).
// 6. The gateway's peak memory above idle while one client sends a 1 GB chunked body.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <sstream>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "gateway/speech.h"
#include "tests/gateway/test_support.h"
#include "tools/phone/loopback_phone.h"
#include "tools/phone/libre_callee.h"
#include "tools/phone/speech_match.h"

namespace {

using Clock = std::chrono::steady_clock;
using gwtest::BodyOf;
using gwtest::TempDir;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string Percentiles(std::vector<double> v) {
  if (v.empty()) return "no samples";
  std::sort(v.begin(), v.end());
  char text[120];
  std::snprintf(text, sizeof text, "median %.1f ms, p95 %.1f ms, max %.1f ms (n=%zu)", v[v.size() / 2],
                v[std::min(v.size() - 1, v.size() * 95 / 100)], v.back(), v.size());
  return text;
}

// The checks on every request stay on, with limits no measurement reaches.
std::string BaseConfig(const std::string& dir, int port) {
  return "listen = 127.0.0.1:" + std::to_string(port) + "\ndatabase = " + dir +
         "/calls.db\nclient_rate = 1000000\ndaily_calls = 100000000\nmax_queued = 10000000\n"
         "numbers = 555????, 0[1-9]*, ?????\n";
}

// A UDP socket bound to 127.0.0.1:port, in the PBX's place.
int LoopbackUdp(int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = gwtest::LoopbackAddress(port);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

// A UDP port that takes INVITEs and never answers: the lines that dial it hold each call until
// the SIP stack gives up (32 s), instead of trying call after call (a port with nobody behind it
// refuses at once).
class SilentPbx {
 public:
  explicit SilentPbx(int port) : fd_(LoopbackUdp(port)) {}
  ~SilentPbx() { close(fd_); }

 private:
  int fd_ = -1;
};

void AcceptRate(int requests) {
  TempDir dir;
  const int base = phone::FreePortBlock(100, 1);
  gwtest::WriteFile(dir.path() + "/g.conf", BaseConfig(dir.path(), base) + "[sip]\ndial = sip:{number}@127.0.0.1:" + std::to_string(base + 5) + "\n"
                                            "sip_port = " + std::to_string(base + 10) + "\n");
  SilentPbx pbx(base + 5);
  gwtest::GatewayProcess gateway(dir.path() + "/g.conf", dir.path() + "/g.log");
  if (!gateway.WaitUntilServing(20000)) return;
  const int clients = 16;
  std::atomic<int> next{0}, accepted{0};
  const std::string body = gwtest::CallBody("5550100", "Hi, this is Ann Lee's appointment reminder call program.\n"
                                                       "You have an appointment coming up in 15 minutes.\n");
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([&] {
      int fd = gwtest::ConnectTo(base);
      for (int n = next++; n < requests; n = next++) {
        // Numbers of their own: the lines, calling one number once at a time, would otherwise
        // look again for a call they may place at every request accepted.
        const std::string numbered = "phoneno=" + std::to_string(5550000 + n % 10000);
        std::string request = body;
        request.replace(request.find("phoneno=5550100"), 15, numbered);
        if (fd < 0 || gwtest::KeepAlivePostCall(fd, request).compare(0, 1, "[") != 0) {
          if (fd >= 0) close(fd);
          fd = gwtest::ConnectTo(base);  // the server ends a connection after 100 requests
          if (fd < 0 || gwtest::KeepAlivePostCall(fd, request).compare(0, 1, "[") != 0) continue;
        }
        ++accepted;
      }
      if (fd >= 0) close(fd);
    });
  for (auto& t : threads) t.join();
  const double seconds = Ms(Clock::now() - start) / 1000;
  std::printf("| Accepted requests per second, durable store | %.0f/s (%d of %d accepted in %.2f s) | %d keep-alive "
              "clients post at once; each call committed to SQLite (WAL, synchronous=FULL) before its id is answered; "
              "commits of requests that arrive together share one fsync |\n",
              accepted / seconds, accepted.load(), requests, seconds, clients);
}

// One request on a fresh TLS connection (the certificate verified against `ca`); its answer.
std::string HttpsPost(SSL_CTX* ctx, int port, const std::string& body) {
  const int fd = gwtest::ConnectTo(port);
  if (fd < 0) return "";
  // As HTTP clients do (curl, WinHTTP): the handshake's last flight and the request are written
  // apart, and Nagle's algorithm would hold the request for the gateway's delayed ACK.
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  SSL* ssl = SSL_new(ctx);
  SSL_set_fd(ssl, fd);
  SSL_set1_host(ssl, "127.0.0.1");
  std::string got;
  const std::string request = "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: gw\r\nContent-Type: "
                              "application/x-www-form-urlencoded\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  if (SSL_connect(ssl) == 1 && SSL_write(ssl, request.data(), static_cast<int>(request.size())) > 0) {
    char buffer[4096];
    for (int n; (n = SSL_read(ssl, buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<size_t>(n));
  }
  SSL_free(ssl);
  close(fd);
  return got;
}

void CpuSeconds(pid_t pid, double& own, double& children);

// `certificate`: "ecdsa", "rsa", or "" for plain HTTP on fresh connections (the comparison).
void FreshConnectionRate(int requests, const std::string& certificate) {
  const bool tls = !certificate.empty(), rsa = certificate == "rsa";
  TempDir dir;
  const int base = phone::FreePortBlock(100, 1);
  const std::string d = dir.path();
  const std::string key = rsa ? "-newkey rsa:2048" : "-newkey ec -pkeyopt ec_paramgen_curve:P-256";
  const std::string make = "openssl req -x509 " + key + " -nodes -days 1 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
                           d + "/https.key -out " + d + "/https.pem >/dev/null 2>&1 && chmod 600 " + d + "/https.key";
  if (tls && std::system(make.c_str()) != 0) return;
  const std::string https = tls ? "tls_certificate = " + d + "/https.pem\ntls_key = " + d + "/https.key\n" : "";
  gwtest::WriteFile(d + "/g.conf", BaseConfig(d, base) + https + "[sip]\ndial = sip:{number}@127.0.0.1:" + std::to_string(base + 5) +
                                       "\nsip_port = " + std::to_string(base + 10) + "\n");
  SilentPbx pbx(base + 5);
  gwtest::GatewayProcess gateway(d + "/g.conf", d + "/g.log");
  if (!gateway.WaitUntilServing(20000)) return;
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_load_verify_locations(ctx, (d + "/https.pem").c_str(), nullptr);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);  // a full handshake every time
  const int clients = 16;
  std::atomic<int> next{0}, accepted{0};
  double cpuBefore = 0, cpuAfter = 0, children = 0;
  CpuSeconds(gateway.Pid(), cpuBefore, children);
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([&] {
      for (int n = next++; n < requests; n = next++) {
        const std::string body = gwtest::CallBody(std::to_string(5550000 + n % 10000), "Your appointment reminder.");
        const std::string answer = tls ? HttpsPost(ctx, base, body) : gwtest::PostCall(base, body);
        if (gwtest::BodyOf(answer).compare(0, 1, "[") == 0) ++accepted;
      }
    });
  for (auto& t : threads) t.join();
  const double seconds = Ms(Clock::now() - start) / 1000;
  CpuSeconds(gateway.Pid(), cpuAfter, children);
  SSL_CTX_free(ctx);
  const std::string what = !tls ? "HTTP, a new connection per request"
                           : rsa ? "HTTPS, a new connection per request, RSA 2048 certificate"
                                 : "HTTPS, a new connection per request, ECDSA P-256 certificate";
  std::printf("| Accepted requests per second, %s | %.0f/s (%d of %d accepted in %.2f s); gateway %.2f ms CPU per "
              "request | %d clients post at once, each request on a connection of its own%s; the clients share the "
              "machine's cores with the gateway; durable store as above |\n",
              what.c_str(), accepted / seconds, accepted.load(), requests, seconds,
              accepted > 0 ? (cpuAfter - cpuBefore) * 1000 / accepted : 0.0, clients,
              tls ? " (a full handshake each, TLS 1.3, the certificate verified)" : "");
}

// A UDP socket in the PBX's place: notes when each INVITE arrives and answers 486.
class InviteSink {
 public:
  explicit InviteSink(int port) : fd_(LoopbackUdp(port)) {}
  ~InviteSink() { close(fd_); }
  // Waits for the next INVITE; its arrival time.
  bool NextInvite(Clock::time_point& at, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[8192];
    while (Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = recvfrom(fd_, buffer, sizeof buffer - 1, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0) continue;
      const Clock::time_point now = Clock::now();
      const std::string msg(buffer, static_cast<size_t>(n));
      if (msg.compare(0, 7, "INVITE ") != 0) continue;  // ACKs of our answers
      std::string reply = "SIP/2.0 486 Busy Here\r\n";
      size_t at0 = msg.find("\r\n") + 2;
      while (at0 < msg.size()) {
        const size_t end = msg.find("\r\n", at0);
        if (end == std::string::npos || end == at0) break;
        const std::string header = msg.substr(at0, end - at0);
        for (const char* name : {"Via:", "From:", "Call-ID:", "CSeq:"})
          if (header.compare(0, std::strlen(name), name) == 0) reply += header + "\r\n";
        if (header.compare(0, 3, "To:") == 0) reply += header + ";tag=sink\r\n";
        at0 = end + 2;
      }
      reply += "Content-Length: 0\r\n\r\n";
      sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
      at = now;
      return true;
    }
    return false;
  }

 private:
  int fd_ = -1;
};

void PostToInvite(int samples) {
  TempDir dir;
  const int base = phone::FreePortBlock(400, 1);
  InviteSink sink(base);
  gwtest::WriteFile(dir.path() + "/g.conf", BaseConfig(dir.path(), base + 50) +
                                                "attempts = 1\n[sip]\ndial = sip:{number}@127.0.0.1:" + std::to_string(base) +
                                                "\nsip_port = " + std::to_string(base + 10) + "\nrtp_ports = " + std::to_string(base + 200) +
                                                "-" + std::to_string(base + 399) + "\n");
  gwtest::GatewayProcess gateway(dir.path() + "/g.conf", dir.path() + "/g.log");
  if (!gateway.WaitUntilServing(20000)) return;
  usleep(1000 * 1000);  // the gateway settles (its first registration, the store's first commits)
  std::vector<double> delays;
  for (int i = 0; i < samples + 3; ++i) {
    const Clock::time_point posted = Clock::now();
    if (BodyOf(gwtest::PostCall(base + 50, gwtest::CallBody("5550100", "Short reminder."))).compare(0, 1, "[") != 0) break;
    Clock::time_point invite;
    if (!sink.NextInvite(invite, 5000)) break;
    if (i >= 3) delays.push_back(Ms(invite - posted));  // the first calls warm up
    gwtest::WaitForState(base + 50, i + 1, "failed", 5000);
  }
  std::printf("| POST → INVITE on the wire | %s | request sent (new connection) → INVITE read by a UDP socket in the "
              "PBX's place, which answers 486; one call at a time; includes two durable commits (accept, then the "
              "claim of the call before it is dialled) |\n",
              Percentiles(delays).c_str());
}

long StatusKb(pid_t pid, const char* field) {
  const std::string status = gwtest::ReadFile("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find(field);
  return at == std::string::npos ? 0 : std::atol(status.c_str() + at + std::strlen(field));
}
long RssKb(pid_t pid) { return StatusKb(pid, "VmRSS:"); }

// CPU seconds of a process (user + system), its own and that of its reaped children.
void CpuSeconds(pid_t pid, double& own, double& children) {
  const std::string stat = gwtest::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  own = children = 0;
  if (close == std::string::npos) return;
  std::istringstream fields(stat.substr(close + 2));
  std::string f;
  std::vector<std::string> v;
  while (fields >> f) v.push_back(f);
  if (v.size() < 15) return;
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  own = (std::atof(v[11].c_str()) + std::atof(v[12].c_str())) / tick;       // utime, stime
  children = (std::atof(v[13].c_str()) + std::atof(v[14].c_str())) / tick;  // cutime, cstime
}

// `calls` calls at once from one gateway to one libre callee that answers at once: a burst of
// as many HTTP requests, the time from the first request to the last answer and to the last
// hang-up, the gateway's CPU and memory per call, and each recording checked against the text.
// `secure`: SIP over TLS (the callee's throwaway certificate trusted by tls_ca_file) and SRTP.
// `rush`: `clients` post at once, and the rows are each request's wait for its id and the CPU
// per call.
void Scale(int calls, bool secure = false, int clients = 16, bool rush = false) {
  TempDir dir;
  const int rtpSpan = 8 * calls;
  const int base = phone::FreePortBlock(100 + 2 * rtpSpan, 1);
  const int calleeSip = base + 20;
  const std::string pem = dir.path() + "/callee.pem", crt = dir.path() + "/callee.crt";
  if (secure && !gwtest::MakeCertificate(dir.path(), "callee")) {
    std::printf("| %d calls at once over TLS and SRTP | openssl could not make a certificate | |\n", calls);
    return;
  }
  const std::string what = std::to_string(calls) + " calls at once" + (secure ? " over TLS and SRTP" : "");
  bench::LibreCallee callee("127.0.0.1", calleeSip, base + 100, base + 100 + rtpSpan - 1, dir.path(), secure ? pem : "");
  std::string error;
  if (!callee.Start(error)) {
    std::printf("| %s | the callee did not start: %s | |\n", what.c_str(), error.c_str());
    return;
  }
  gwtest::WriteFile(dir.path() + "/g.conf", BaseConfig(dir.path(), base) + "max_calls = " + std::to_string(calls) +
                                                "\nattempts = 1\n[sip]\ndial = sip:{number}@127.0.0.1:" +
                                                std::to_string(calleeSip) + "\nsip_port = " + std::to_string(base + 10) +
                                                "\nrtp_ports = " + std::to_string(base + 100 + rtpSpan) + "-" +
                                                std::to_string(base + 100 + 2 * rtpSpan - 1) + "\n" +
                                                (secure ? "transport = tls\nsrtp = yes\ntls_ca_file = " + crt + "\n" : ""));
  gwtest::GatewayProcess gateway(dir.path() + "/g.conf", dir.path() + "/g.log");
  if (!gateway.WaitUntilServing(20000)) {
    std::printf("| %s | the gateway did not start: %s | |\n", what.c_str(),
                gwtest::ReadFile(dir.path() + "/g.log").c_str());
    return;
  }
  usleep(1000 * 1000);
  const long idleKb = RssKb(gateway.Pid());
  double cpu0 = 0, child0 = 0;
  CpuSeconds(gateway.Pid(), cpu0, child0);
  const std::string text = "This reminder call is one of many at the same time.";
  // The burst: 16 clients post the requests as fast as they are answered, each to a number of
  // its own (the gateway calls one number once at a time).
  const Clock::time_point start = Clock::now();
  std::atomic<int> next{0}, accepted{0};
  std::vector<std::thread> posters;
  std::mutex waitsMu;
  std::vector<double> waits;  // each request, sent on a new connection -> its whole answer
  for (int c = 0; c < clients; ++c)
    posters.emplace_back([&] {
      for (int n = next++; n < calls; n = next++) {
        const Clock::time_point sent = Clock::now();
        const std::string answer = BodyOf(gwtest::PostCall(base, gwtest::CallBody(std::to_string(5551000 + n), text)));
        const double waited = Ms(Clock::now() - sent);
        if (answer.empty() || answer.front() != '[') continue;
        ++accepted;
        std::lock_guard<std::mutex> lock(waitsMu);
        waits.push_back(waited);
      }
    });
  for (auto& t : posters) t.join();
  const double postedMs = Ms(Clock::now() - start);
  long peakKb = 0;
  while (callee.Answered() < accepted && Clock::now() - start < std::chrono::seconds(120)) {
    peakKb = std::max(peakKb, RssKb(gateway.Pid()));
    usleep(20 * 1000);
  }
  const int answered = callee.Answered();
  if (answered < accepted) {
    const std::string log = gwtest::ReadFile(dir.path() + "/g.log");
    std::fprintf(stderr, "only %d answered; the gateway's log ends:\n%s\n", answered,
                 log.substr(log.size() > 6000 ? log.size() - 6000 : 0).c_str());
  }
  const double answeredMs = answered ? Ms(callee.AnsweredAt(answered) - start) : 0;
  // All calls up: the memory they hold (the speech of the later ones may still be in the making).
  while (callee.Closed() < answered && Clock::now() - start < std::chrono::seconds(300)) {
    peakKb = std::max(peakKb, RssKb(gateway.Pid()));
    usleep(50 * 1000);
  }
  const double doneMs = Ms(Clock::now() - start);
  double cpu1 = 0, child1 = 0;
  CpuSeconds(gateway.Pid(), cpu1, child1);
  talmery::Pcm speech;
  talmery::Synthesize(text, talmery::Voice(), speech, error);
  int clean = 0;
  double worst = 1;
  for (const std::string& path : callee.Recordings()) {
    talmery::Pcm rec;
    std::string report;
    if (talmery::ReadWavFile(path, rec, error) && phone::RecordingCarries(rec, speech, 2, report)) {
      ++clean;
      for (const auto& m : phone::FindSpeech(rec, speech, 2)) worst = std::min(worst, m.correlation);
    }
  }
  const double seconds = doneMs / 1000;
  if (rush) {
    std::sort(waits.begin(), waits.end());
    const auto at = [&](size_t percent) { return waits.empty() ? 0.0 : waits[std::min(waits.size() - 1, waits.size() * percent / 100)]; };
    std::printf("| Morning rush, %d calls: each request's wait for its id | p50 %.1f ms, p99 %.1f ms, max %.1f ms (%d of %d "
                "accepted) | %d clients post at once, each request on a new connection, while the calls accepted before it "
                "are claimed, dialled, spoken and answered by one libre callee; %d of %d recordings carry the text twice |\n",
                calls, at(50), at(99), waits.empty() ? 0.0 : waits.back(), accepted.load(), calls, clients, clean, answered);
    std::printf("| Morning rush, %d calls: CPU per call | %.3f s (gateway %.1f ms, speech helpers %.1f ms); last hang-up "
                "after %.1f s | /proc/<pid>/stat utime+stime of the gateway and of its reaped talmery-speak children from "
                "the first request to the last hang-up, divided by the calls |\n",
                calls, (cpu1 - cpu0 + child1 - child0) / calls, 1000 * (cpu1 - cpu0) / calls, 1000 * (child1 - child0) / calls,
                seconds);
    return;
  }
  std::printf("| %s | %d of %d requests accepted in %.0f ms; last call answered %.0f ms after the first "
              "request, last hung up after %.1f s; %d of %d recordings carry the text twice (lowest correlation %.4f) | "
              "a burst of %d requests from 16 clients; one libre callee answers each at once and records it; "
              "G.711 PCMU, 20 ms packets%s |\n",
              what.c_str(), accepted.load(), calls, postedMs, answeredMs, seconds, clean, answered, worst, calls,
              secure ? "; SIP over TLS, SRTP (AES_CM_128_HMAC_SHA1_80)" : "");
  std::printf("| %s: cost per call | gateway %.1f ms CPU per call (%.2f %% of a core per call over the "
              "%.1f s), speech helpers %.0f ms CPU per call; memory %.0f KB per call at the peak (%ld KB idle, %ld KB "
              "peak) | /proc/<pid>/stat utime+stime of the gateway and of its reaped talmery-speak children from the "
              "burst to the last hang-up; VmRSS sampled every 20-50 ms |\n",
              what.c_str(), 1000 * (cpu1 - cpu0) / calls, 100 * (cpu1 - cpu0) / seconds / calls, seconds,
              1000 * (child1 - child0) / calls, static_cast<double>(peakKb - idleKb) / calls, idleKb, peakKb);
}

void Simultaneous(int calls) {
  TempDir dir;
  const int base = phone::FreePortBlock(300 + 210 * calls, 1);
  std::vector<std::unique_ptr<phone::LoopbackPhone>> phones;
  for (int i = 0; i < calls; ++i) {
    phones.push_back(std::make_unique<phone::LoopbackPhone>(
        dir.path() + "/phone" + std::to_string(i), phone::PhonePorts{base + 300 + 210 * i, base + 302 + 210 * i, base + 310 + 210 * i},
        std::vector<phone::PhoneAccount>{{"5550100", phone::Behaviour::Answer, 0}}));
    std::string error;
    if (!phones.back()->Start(error)) {
      std::printf("| Simultaneous calls with clean audio | phone %d did not start: %s | |\n", i, error.c_str());
      return;
    }
  }
  // Each call goes to its own phone: the dial template's port is the number's last part.
  std::string conf = BaseConfig(dir.path(), base) + "max_calls = " + std::to_string(calls) +
                     "\n[sip]\ndial = sip:5550100@127.0.0.1:{number}\nsip_port = " + std::to_string(base + 10) +
                     "\nrtp_ports = " +
                     std::to_string(base + 300 + 210 * calls) + "-" + std::to_string(base + 300 + 210 * calls + 8 * calls - 1) + "\n";
  // The ports above are checked free for the phones; the gateway's RTP range lies after them.
  gwtest::WriteFile(dir.path() + "/g.conf", conf);
  gwtest::GatewayProcess gateway(dir.path() + "/g.conf", dir.path() + "/g.log");
  if (!gateway.WaitUntilServing(20000)) return;
  usleep(2000 * 1000);
  const std::string text = "This reminder call is one of many at the same time.";
  for (int i = 0; i < calls; ++i) gwtest::PostCall(base, gwtest::CallBody(std::to_string(base + 300 + 210 * i), text));
  int done = 0, clean = 0, heldAtOnce = 0;
  for (int i = 0; i < calls; ++i)
    if (gwtest::WaitForState(base, i + 1, "done", 120000)["state"] == "done") ++done;
  const std::string log = gwtest::ReadFile(dir.path() + "/g.log");
  // Calls answered before the first one ended: all of them were going on at once.
  const size_t firstDone = log.find("state=done");
  for (size_t at = log.find("state=answered"); at != std::string::npos && at < firstDone; at = log.find("state=answered", at + 1))
    ++heldAtOnce;
  talmery::Pcm speech;
  std::string error;
  talmery::Synthesize(text, talmery::Voice(), speech, error);
  double worst = 1;
  for (auto& p : phones) {
    p->WaitForClosedCalls(1, 10000);
    const auto recordings = p->Recordings();
    talmery::Pcm rec;
    std::string report;
    if (recordings.size() == 1 && talmery::ReadWavFile(recordings[0], rec, error) &&
        phone::RecordingCarries(rec, speech, 2, report)) {
      ++clean;
      for (const auto& m : phone::FindSpeech(rec, speech, 2)) worst = std::min(worst, m.correlation);
    }
  }
  std::printf("| Simultaneous calls with clean audio | %d of %d calls done, %d answered before the first ended, %d "
              "recordings carry the text twice (lowest correlation %.4f) | %d loopback phones (a baresip each), one "
              "call to each at once, G.711 PCMU; each recording checked against the speech |\n",
              done, calls, heldAtOnce, clean, worst, calls);
}

void IdleMemory() {
  TempDir dir;
  const int base = phone::FreePortBlock(400, 1);
  gwtest::WriteFile(dir.path() + "/g.conf", BaseConfig(dir.path(), base) + "[sip]\nsip_port = " + std::to_string(base + 10) +
                                                "\nrtp_ports = " +
                                                std::to_string(base + 200) + "-" + std::to_string(base + 399) + "\n");
  gwtest::GatewayProcess gateway(dir.path() + "/g.conf", dir.path() + "/g.log");
  if (!gateway.WaitUntilServing(20000)) return;
  usleep(5000 * 1000);
  long children = 0;
  int count = 0;
  if (DIR* proc = opendir("/proc")) {
    while (dirent* e = readdir(proc)) {
      const std::string stat = gwtest::ReadFile(std::string("/proc/") + e->d_name + "/stat");
      const size_t close = stat.rfind(')');
      if (close == std::string::npos) continue;
      int ppid = 0;
      char state;
      if (std::sscanf(stat.c_str() + close + 2, "%c %d", &state, &ppid) == 2 && ppid == gateway.Pid()) {
        children += RssKb(std::atoi(e->d_name));
        ++count;
      }
    }
    closedir(proc);
  }
  std::printf("| Idle gateway memory | %ld KB resident, %d child processes %ld KB more | VmRSS after 5 s idle, "
              "4 lines (max_calls = 4), no call yet; resident sizes include shared libraries |\n",
              RssKb(gateway.Pid()), count, children);
}

int ConnectFrom(const std::string& source, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, source.c_str(), &local.sin_addr);
  sockaddr_in a = gwtest::LoopbackAddress(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Holds `count` connections open from addresses 127.0.<group>.x (50 per address); trickling
// ones send a byte of an endless head every 200 ms. A connection the gateway ends is opened
// again, so that the number stays up for the whole measurement.
class Crowd {
 public:
  Crowd(int port, int group, int count, bool trickle) : port_(port), trickle_(trickle) {
    for (int i = 0; i < count; ++i) slots_.push_back({"127.0." + std::to_string(group) + "." + std::to_string(2 + i / 50), -1, 0});
    thread_ = std::thread([this] { Run(); });
  }
  ~Crowd() {
    stop_ = true;
    thread_.join();
    for (Slot& s : slots_)
      if (s.fd >= 0) close(s.fd);
  }
  int Open() const { return open_; }
  long Reopened() const { return reopened_; }

 private:
  struct Slot {
    std::string source;
    int fd;
    size_t sent;
  };
  void Run() {
    static const std::string head = "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: x\r\nX-Slow: ";
    char buffer[4096];
    while (!stop_) {
      int open = 0;
      for (Slot& s : slots_) {
        if (s.fd >= 0) {
          // Anything read (an answer, the end) means the gateway is done with it.
          const ssize_t n = recv(s.fd, buffer, sizeof buffer, MSG_DONTWAIT);
          if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTCONN) || n > 0) {
            close(s.fd);
            s.fd = -1;
            ++reopened_;
          }
        }
        if (s.fd < 0) {
          s.fd = ConnectFrom(s.source, port_);
          s.sent = 0;
        }
        if (s.fd < 0) continue;
        ++open;
        if (trickle_) {
          const char byte = s.sent < head.size() ? head[s.sent] : 'a';
          if (send(s.fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1) ++s.sent;
        }
      }
      open_ = open;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  }
  int port_;
  bool trickle_;
  std::vector<Slot> slots_;
  std::atomic<bool> stop_{false};
  std::atomic<int> open_{0};
  std::atomic<long> reopened_{0};
  std::thread thread_;
};

void LatencyUnderSlowClients(int trickling, int idle, int samples) {
  TempDir dir;
  const int base = phone::FreePortBlock(100, 1);
  gwtest::WriteFile(dir.path() + "/g.conf", BaseConfig(dir.path(), base) + "[sip]\ndial = sip:{number}@127.0.0.1:" + std::to_string(base + 5) + "\n"
                                            "sip_port = " + std::to_string(base + 10) + "\n");
  SilentPbx pbx(base + 5);
  gwtest::GatewayProcess gateway(dir.path() + "/g.conf", dir.path() + "/g.log");
  if (!gateway.WaitUntilServing(20000)) return;
  Crowd slow(base, 1, trickling, true), silent(base, 2, idle, false);
  std::this_thread::sleep_for(std::chrono::seconds(3));  // all connected and trickling
  const std::string body = gwtest::CallBody("5550100", "Honest reminder.");
  std::vector<double> latencies;
  int failed = 0, lowest = 1 << 30;
  for (int i = 0; i < samples; ++i) {
    lowest = std::min(lowest, slow.Open() + silent.Open());
    const Clock::time_point start = Clock::now();
    if (BodyOf(gwtest::PostCall(base, body)).compare(0, 1, "[") == 0) latencies.push_back(Ms(Clock::now() - start));
    else ++failed;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::sort(latencies.begin(), latencies.end());
  const double p50 = latencies.empty() ? 0 : latencies[latencies.size() / 2];
  const double p99 = latencies.empty() ? 0 : latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
  std::printf("| Honest request with %d trickling and %d idle connections open | p50 %.1f ms, p99 %.1f ms, max %.1f ms "
              "(n=%zu, %d failed; at least %d of %d connections open at each request; %ld cut off and reopened) | "
              "a POST on a new connection from 127.0.0.1 every 50 ms; the others from 127.0.1.x and 127.0.2.x, 50 per "
              "address; trickling ones send a head byte every 200 ms, idle ones nothing (request_seconds = 10 ends "
              "both) |\n",
              trickling, idle, p50, p99, latencies.empty() ? 0 : latencies.back(), latencies.size(), failed, lowest,
              trickling + idle, slow.Reopened() + silent.Reopened());
}

void MemoryDuringHugeBody(long long megabytes) {
  TempDir dir;
  const int base = phone::FreePortBlock(100, 1);
  gwtest::WriteFile(dir.path() + "/g.conf", BaseConfig(dir.path(), base) + "request_seconds = 60\n[sip]\n"
                                            "dial = sip:{number}@127.0.0.1:" + std::to_string(base + 5) + "\nsip_port = " + std::to_string(base + 10) +
                                            "\n");
  SilentPbx pbx(base + 5);
  gwtest::GatewayProcess gateway(dir.path() + "/g.conf", dir.path() + "/g.log");
  if (!gateway.WaitUntilServing(20000)) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const long idle = RssKb(gateway.Pid());
  std::atomic<bool> sending{true};
  std::atomic<long> peak{idle};
  std::thread sampler([&] {
    while (sending) {
      peak = std::max(peak.load(), RssKb(gateway.Pid()));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  const int fd = gwtest::ConnectTo(base);
  const std::string head = "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: x\r\nContent-Type: "
                           "application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n";
  std::string chunk = "10000\r\n" + std::string(65536, 'a') + "\r\n";
  bool ok = send(fd, head.data(), head.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(head.size());
  const Clock::time_point start = Clock::now();
  for (long long sent = 0; ok && sent < megabytes * 16; ++sent) {
    for (size_t at = 0; ok && at < chunk.size();) {
      const ssize_t n = send(fd, chunk.data() + at, chunk.size() - at, MSG_NOSIGNAL);
      ok = n > 0;
      at += ok ? static_cast<size_t>(n) : 0;
    }
  }
  if (ok) send(fd, "0\r\n\r\n", 5, MSG_NOSIGNAL);
  const double seconds = Ms(Clock::now() - start) / 1000;
  std::string answer;
  char buffer[1024];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<size_t>(n));
  close(fd);
  sending = false;
  sampler.join();
  const long hwm = StatusKb(gateway.Pid(), "VmHWM:");
  std::string said = BodyOf(answer);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
  std::printf("| Peak memory above idle during a %lld MB chunked body | %ld KB (sampled every 10 ms; peak resident "
              "VmHWM %ld KB, idle %ld KB); %s in %.1f s, answered \"%s\" | one client sends 64 KB chunks as fast as "
              "loopback takes them; past 256 KB the gateway drops the bytes as they come |\n",
              megabytes, peak - idle, hwm, idle, ok ? "sent whole" : "cut off", seconds, said.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int calls = argc > 2 ? std::atoi(argv[2]) : 20;
  // 1,400 connections of the bench and as many of the gateway.
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  const char* only = std::getenv("GATEWAY_BENCH_ONLY");  // e.g. "slow,memory": just those parts
  auto part = [only](const char* name) { return !only || std::strstr(only, name) != nullptr; };
  if (part("rate")) AcceptRate(requests);
  if (part("https")) {
    FreshConnectionRate(std::max(1, requests / 5), "");
    FreshConnectionRate(std::max(1, requests / 5), "ecdsa");
    FreshConnectionRate(std::max(1, requests / 5), "rsa");
  }
  if (part("invite")) PostToInvite(50);
  if (part("calls")) Simultaneous(calls);
  if (part("scale")) {
    const char* sizes = std::getenv("GATEWAY_BENCH_SCALE");  // e.g. "20": other sizes than 100 and 200
    if (sizes) Scale(std::atoi(sizes));
    else {
      Scale(100);
      Scale(200);
    }
  }
  if (part("secure")) Scale(100, true);
  if (part("rush")) Scale(100, false, 10, true);
  if (part("idle")) IdleMemory();
  if (part("slow")) LatencyUnderSlowClients(300, 1100, 100);
  if (part("memory")) MemoryDuringHugeBody(1024);
  return 0;
}
