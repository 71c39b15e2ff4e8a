// postgres_bench: the figures of gateways sharing one PostgreSQL database, for
// docs/performance.md (tools/bench-postgres.sh and tools/soak-postgres.sh run it on a build
// without sanitizers, against throwaway clusters they make). Prints table rows
// "| measure | result | how |".
//   postgres_bench rate URI REQUESTS NODES
//     Accepted requests per second: 16 keep-alive clients post to NODES gateways on the database
//     URI (spread evenly); each call is committed (synchronous_commit on) before its id is
//     answered. The lines dial a port that never answers, so that taking requests is measured.
//   postgres_bench takeover URI LEASE RUNS
//     Two gateways (one line each) dial a stand-in PBX that never answers. Node a has a call in
//     progress and has just accepted another when it is killed (SIGKILL): the time until node b
//     dials the accepted one, and until b closes the one in progress (after lease_seconds =
//     LEASE); every INVITE is counted, so that a call dialled twice would show.
//   postgres_bench failover URI SECONDS KILL PROMOTE CHECK_URI
//     Two gateways on a primary with a standby (URI names both, target_session_attrs=read-write);
//     16 clients post for SECONDS; after a third of it the shell command KILL ends the primary
//     (an immediate stop) and PROMOTE promotes the standby. Afterwards every id answered is looked
//     for on CHECK_URI (the promoted standby): those missing are acknowledged calls lost.
#include <libpq-fe.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "tests/gateway/test_support.h"
#include "tools/phone/loopback_phone.h"

namespace {

using Clock = std::chrono::steady_clock;
using gwtest::TempDir;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A UDP socket in the PBX's place that answers nothing: each line holds its call (the SIP stack
// gives up after 32 s). It notes each INVITE: the number and the port it came from.
class SilentPbx {
 public:
  explicit SilentPbx(int port) : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a = gwtest::LoopbackAddress(port);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ~SilentPbx() { close(fd_); }
  struct Invite {
    std::string number;
    int fromPort;
    Clock::time_point at;
  };
  // The INVITEs that came since the last look (retransmissions of one call counted once).
  std::vector<Invite> Read(int waitMs) {
    std::vector<Invite> got;
    char buffer[8192];
    pollfd p{fd_, POLLIN, 0};
    while (poll(&p, 1, waitMs) > 0) {
      waitMs = 0;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = recvfrom(fd_, buffer, sizeof buffer - 1, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0) break;
      const std::string msg(buffer, static_cast<size_t>(n));
      if (msg.compare(0, 11, "INVITE sip:") != 0) continue;
      const size_t callId = msg.find("\r\nCall-ID: ");
      const std::string id = callId == std::string::npos ? "" : msg.substr(callId, msg.find("\r\n", callId + 2) - callId);
      if (!seen_.insert(id).second) continue;
      got.push_back({msg.substr(11, msg.find('@') - 11), ntohs(from.sin_port), Clock::now()});
    }
    return got;
  }

 private:
  int fd_;
  std::set<std::string> seen_;
};

struct Node {
  std::string name, config;
  int port, sipPort;
};

// Gateways on `uri` dialling the silent PBX at pbxPort: node i listens on base + 50 + 2i, SIP on
// base + 200 + 100i.
std::vector<Node> WriteNodes(const std::string& dir, const std::string& uri, int count, int base, int pbxPort,
                             int maxCalls, int lease) {
  std::vector<Node> nodes;
  for (int i = 0; i < count; ++i) {
    Node n{std::string("gw-") + static_cast<char>('a' + i), dir + "/" + std::to_string(i) + ".conf", base + 50 + 2 * i,
           base + 200 + 100 * i};
    mkdir((dir + "/" + n.name).c_str(), 0700);
    gwtest::WriteFile(n.config, "listen = 127.0.0.1:" + std::to_string(n.port) + "\ndatabase = " + uri + "\nnode = " +
                                    n.name + "\nspool = " + dir + "/" + n.name + "\nlease_seconds = " +
                                    std::to_string(lease) + "\nmax_calls = " + std::to_string(maxCalls) +
                                    "\nattempts = 1\nclient_rate = 1000000\ndaily_calls = 100000000\n"
                                    "max_queued = 10000000\n[sip]\ndial = sip:{number}@127.0.0.1:" +
                                    std::to_string(pbxPort) + "\nsip_port = " + std::to_string(n.sipPort) +
                                    "\nrtp_ports = " + std::to_string(n.sipPort + 10) + "-" +
                                    std::to_string(n.sipPort + 99) + "\n");
    nodes.push_back(n);
  }
  return nodes;
}

std::string Body(long long n) {
  return gwtest::CallBody(std::to_string(5500000 + n % 400000), "Hi, this is Ann Lee's appointment reminder call "
                                                                  "program. You have an appointment in 15 minutes.");
}

// 16 clients post to `nodes` in turn until `requests` are sent or `until` says stop; each answer
// goes to `answered`, with the time its request was sent.
void Rush(const std::vector<Node>& nodes, int requests, const std::function<bool()>& until,
          const std::function<void(size_t node, const std::string& answer, Clock::time_point sent)>& answered) {
  const int clients = 16;
  std::atomic<int> next{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([&, c] {
      const size_t node = static_cast<size_t>(c) % nodes.size();
      int fd = gwtest::ConnectTo(nodes[node].port);
      for (int n = next++; n < requests && !until(); n = next++) {
        const Clock::time_point sent = Clock::now();
        std::string answer = fd < 0 ? "" : gwtest::KeepAlivePostCall(fd, Body(n));
        if (answer.empty()) {  // the server ends a connection after 100 requests, or cut it
          if (fd >= 0) close(fd);
          fd = gwtest::ConnectTo(nodes[node].port);
          answer = fd < 0 ? "" : gwtest::KeepAlivePostCall(fd, Body(n));
        }
        answered(node, answer, sent);
      }
      if (fd >= 0) close(fd);
    });
  for (auto& t : threads) t.join();
}

void Rate(const std::string& uri, int requests, int count) {
  TempDir dir;
  const int base = phone::FreePortBlock(500, 1);
  SilentPbx pbx(base + 5);
  const std::vector<Node> nodes = WriteNodes(dir.path(), uri, count, base, base + 5, 4, 30);
  std::vector<std::unique_ptr<gwtest::GatewayProcess>> running;
  for (const Node& n : nodes) {
    running.push_back(std::make_unique<gwtest::GatewayProcess>(n.config, dir.path() + "/" + n.name + ".log"));
    if (!running.back()->WaitUntilServing(20000)) {
      std::fprintf(stderr, "%s did not start: %s\n", n.name.c_str(), gwtest::ReadFile(dir.path() + "/" + n.name + ".log").c_str());
      return;
    }
  }
  std::vector<std::atomic<int>> accepted(nodes.size());
  const Clock::time_point start = Clock::now();
  Rush(nodes, requests, [] { return false; }, [&](size_t node, const std::string& answer, Clock::time_point) {
    if (!answer.empty() && answer[0] == '[') ++accepted[node];
  });
  const double seconds = Ms(Clock::now() - start) / 1000;
  int all = 0;
  std::string per;
  for (size_t i = 0; i < nodes.size(); ++i) {
    all += accepted[i];
    char part[64];
    std::snprintf(part, sizeof part, "%s%.0f/s", i ? ", " : "", accepted[i] / seconds);
    per += part;
  }
  std::printf("| Accepted requests per second, PostgreSQL, %s | %.0f/s%s (%d of %d accepted in %.2f s) | 16 keep-alive "
              "clients post at once%s; each call committed (synchronous_commit on, fsync) before its id is answered |\n",
              count == 1 ? "one node" : "two nodes", all / seconds, count == 1 ? "" : (" in all: " + per + " per node").c_str(),
              all, requests, seconds, count == 1 ? "" : ", 8 to each node");
}

std::string Median(std::vector<double> v, const char* unit, double scale) {
  if (v.empty()) return "no run";
  std::sort(v.begin(), v.end());
  std::string runs;
  for (double x : v) {
    char one[32];
    std::snprintf(one, sizeof one, "%s%.1f", runs.empty() ? "" : ", ", x / scale);
    runs += one;
  }
  char text[200];
  std::snprintf(text, sizeof text, "median %.1f %s (runs: %s)", v[v.size() / 2] / scale, unit, runs.c_str());
  return text;
}

void Takeover(const std::string& uri, int lease, int runs) {
  std::vector<double> placed, closed;
  int twice = 0, done = 0;
  for (int run = 0; run < runs; ++run) {
    PGconn* db = PQconnectdb(uri.c_str());
    PQclear(PQexec(db, "DROP TABLE IF EXISTS calls, attempts, nodes"));
    PQfinish(db);
    TempDir dir;
    const int base = phone::FreePortBlock(500, 1);
    SilentPbx pbx(base + 5);
    const std::vector<Node> nodes = WriteNodes(dir.path(), uri, 2, base, base + 5, 1, lease);
    auto a = std::make_unique<gwtest::GatewayProcess>(nodes[0].config, dir.path() + "/a.log");
    gwtest::GatewayProcess b(nodes[1].config, dir.path() + "/b.log");
    if (!a->WaitUntilServing(20000) || !b.WaitUntilServing(20000)) return;
    std::vector<SilentPbx::Invite> invites;
    const auto dialled = [&](const std::string& number, int fromPort) {
      for (const auto& i : invites)
        if (i.number == number && (fromPort == 0 || i.fromPort == fromPort)) return true;
      return false;
    };
    if (gwtest::BodyOf(gwtest::PostCall(nodes[0].port, gwtest::CallBody("5590001", "In progress."))) != "[1]\r\n") return;
    for (int i = 0; i < 100 && !dialled("5590001", nodes[0].sipPort); ++i)
      for (const auto& got : pbx.Read(100)) invites.push_back(got);
    if (gwtest::BodyOf(gwtest::PostCall(nodes[0].port, gwtest::CallBody("5590002", "Queued."))) != "[2]\r\n") return;
    a->Kill(SIGKILL);
    const Clock::time_point death = Clock::now();
    a->Wait(10000);
    std::optional<double> placedMs, closedMs;
    while (Ms(Clock::now() - death) < (lease + 20) * 1000.0 && (!placedMs || !closedMs)) {
      for (const auto& got : pbx.Read(50)) {
        invites.push_back(got);
        if (got.number == "5590002" && !placedMs) placedMs = Ms(got.at - death);
      }
      if (!closedMs && gwtest::CallStatus(nodes[1].port, 1)["state"] == "failed") closedMs = Ms(Clock::now() - death);
    }
    int toFirst = 0;
    for (const auto& i : invites) toFirst += i.number == "5590001";
    twice += toFirst > 1;
    if (placedMs) placed.push_back(*placedMs);
    if (closedMs) closed.push_back(*closedMs);
    done += placedMs && closedMs;
  }
  std::printf("| A killed node's call in progress closed (lease_seconds = %d) | %s; %d of %d runs; %d calls dialled twice "
              "| SIGKILL of node a while its one line dials a PBX that never answers → node b's page shows the call "
              "failed (\"the gateway stopped while dialling\"); b watches a's beat every %d ms |\n",
              lease, Median(closed, "s", 1000).c_str(), done, runs, twice, std::clamp(lease * 250, 250, 5000));
  std::printf("| A killed node's queued call placed by another (lease_seconds = %d) | %s | a call node a accepted just "
              "before the SIGKILL (its line busy) → its INVITE from node b; b's idle line looks every second |\n",
              lease, Median(placed, "ms", 1).c_str());
}

void Failover(const std::string& uri, int seconds, const std::string& kill, const std::string& promote,
              const std::string& checkUri) {
  TempDir dir;
  const int base = phone::FreePortBlock(500, 1);
  SilentPbx pbx(base + 5);
  const std::vector<Node> nodes = WriteNodes(dir.path(), uri, 2, base, base + 5, 1, 30);
  std::vector<std::unique_ptr<gwtest::GatewayProcess>> running;
  for (const Node& n : nodes) {
    running.push_back(std::make_unique<gwtest::GatewayProcess>(n.config, dir.path() + "/" + n.name + ".log"));
    if (!running.back()->WaitUntilServing(20000)) return;
  }
  std::mutex mu;
  std::vector<long long> acked;
  int errors = 0, unanswered = 0;
  std::optional<Clock::time_point> killedAt, firstAfter;
  const Clock::time_point start = Clock::now();
  std::thread failing([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(seconds * 1000 / 3));
    // Stopped once the command returns (an immediate stop waits for the server's end).
    const bool killed = std::system(kill.c_str()) == 0;
    {
      std::lock_guard<std::mutex> lock(mu);
      killedAt = Clock::now();
    }
    if (!killed || std::system(promote.c_str()) != 0) std::fprintf(stderr, "failover failed\n");
  });
  Rush(nodes, 100000000, [&] { return Ms(Clock::now() - start) > seconds * 1000.0; },
       [&](size_t, const std::string& answer, Clock::time_point sent) {
         std::lock_guard<std::mutex> lock(mu);
         if (!answer.empty() && answer[0] == '[') {
           acked.push_back(std::atoll(answer.c_str() + 1));
           if (killedAt && sent > *killedAt && !firstAfter) firstAfter = Clock::now();
         } else if (answer.compare(0, 6, "ERROR:") == 0) {
           ++errors;
         } else {
           ++unanswered;
         }
       });
  failing.join();
  std::set<long long> unique(acked.begin(), acked.end());
  PGconn* db = PQconnectdb(checkUri.c_str());
  std::string ids = "{";
  for (long long id : unique) ids += (ids.size() > 1 ? "," : "") + std::to_string(id);
  ids += "}";
  const char* values[] = {ids.c_str()};
  PGresult* r = PQexecParams(db, "SELECT COUNT(*) FROM calls WHERE id = ANY($1::bigint[])", 1, nullptr, values, nullptr,
                             nullptr, 0);
  const long long found = PQresultStatus(r) == PGRES_TUPLES_OK ? std::atoll(PQgetvalue(r, 0, 0)) : -1;
  PQclear(r);
  PQfinish(db);
  std::printf("| %zu | %lld | %zu | %d | %d | %.1f s |\n", acked.size(), found < 0 ? -1 : static_cast<long long>(unique.size()) - found,
              acked.size() - unique.size(), errors, unanswered,
              killedAt && firstAfter ? Ms(*firstAfter - *killedAt) / 1000 : -1.0);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "rate" && argc == 5) Rate(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  else if (mode == "takeover" && argc == 5) Takeover(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  else if (mode == "failover" && argc == 7) Failover(argv[2], std::atoi(argv[3]), argv[4], argv[5], argv[6]);
  else {
    std::fprintf(stderr, "usage: postgres_bench rate URI REQUESTS NODES | takeover URI LEASE RUNS | "
                         "failover URI SECONDS KILL PROMOTE CHECK_URI\n");
    return 2;
  }
  return 0;
}
