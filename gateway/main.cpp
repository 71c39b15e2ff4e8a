// talmery-gateway: takes reminder call requests over HTTP and places the calls over SIP (or,
// in speaker mode, writes what would be said). See the README's section for administrators.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "gateway/config.h"
#include "gateway/speech.h"
#include "gateway/event_log.h"
#include "gateway/pg_store.h"
#include "gateway/service.h"
#include "gateway/sqlite_store.h"
#include "gateway/status_view.h"

namespace {

constexpr int kGraceSeconds = 60;  // calls going on may end by themselves after a stop signal

int List(const talmery::Config& config, int count) {
  std::string error;
  std::vector<talmery::CallRecord> calls;
  talmery::ViewOptions view;
  const int rows = count > 0 ? count : config.pageCalls;
  const bool read = config.SharedStore() ? talmery::ReadPgListing(config.database, rows, calls, view.nodes, error)
                                         : talmery::ReadRecentCalls(config.database, rows, calls, error);
  if (!read) {
    std::fprintf(stderr, "talmery-gateway: cannot open the call store: %s\n", error.c_str());
    return 1;
  }
  view.showNodes = config.SharedStore();
  view.showText = config.showText;
  std::fputs(talmery::ConsoleList(calls, view).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // What this process and its children (the SIP user agents, the speech helper) create holds
  // numbers and texts: for the service user alone, however the server was started.
  umask(0077);
  talmery::CommandLine line;
  std::string error;
  if (!talmery::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), line, error)) {
    std::fprintf(stderr, "talmery-gateway: %s\n%s", error.c_str(), talmery::Usage());
    return 2;
  }
  if (line.help) {
    std::fputs(talmery::Usage(), stdout);
    return 0;
  }
  talmery::Config config;
  std::string configPath = line.configPath;
  if (configPath.empty() && access(talmery::kDefaultConfigPath, F_OK) == 0) configPath = talmery::kDefaultConfigPath;
  if (!configPath.empty() && !talmery::LoadConfigFile(configPath, config, error)) {
    std::fprintf(stderr, "talmery-gateway: %s\n", error.c_str());
    return 2;
  }
  if (!talmery::ApplyCommandLine(line, config, error) || !talmery::ValidateConfig(config, error)) {
    std::fprintf(stderr, "talmery-gateway: %s\n", error.c_str());
    return 2;
  }
  if (line.list) return List(config, line.listCount);
  if (!talmery::CheckVoice(config.voice, error)) {
    std::fprintf(stderr, "talmery-gateway: %s\n", error.c_str());
    return 2;
  }

  talmery::EventLog log(stderr);
  log.AddSecret(config.sip.password);
  struct stat st = {};
  if (!config.sip.password.empty() && !configPath.empty() && stat(configPath.c_str(), &st) == 0 && (st.st_mode & 0004))
    log.Write("warning", {{"config", configPath}, {"why", "holds the SIP password and is readable by every user"}});

  // Signals are taken by this thread alone (blocked before any other thread starts).
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  talmery::Gateway gateway(config, log);
  if (!gateway.Start(error)) {
    log.Write("stop", {{"error", error}});
    std::fprintf(stderr, "talmery-gateway: %s\n", error.c_str());
    return 1;
  }
  int signo = 0;
  // SIGHUP (systemctl reload): the HTTPS certificate afresh, without a stop.
  while (sigwait(&stopSignals, &signo) == 0 && signo == SIGHUP) gateway.Reload(error);
  log.Write("stopping", {{"signal", signo == SIGINT ? "SIGINT" : "SIGTERM"},
                         {"grace", std::to_string(kGraceSeconds) + "s"}});
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    gateway.Stop(kGraceSeconds);
    stopped = true;
  });
  // A second signal hangs up the calls still going on.
  const timespec slice{0, 100 * 1000 * 1000};
  while (!stopped) {
    const int next = sigtimedwait(&stopSignals, nullptr, &slice);
    if (next == SIGHUP) continue;  // no certificate is worth taking while stopping
    if (next > 0) {
      log.Write("stopping", {{"now", "hanging up the calls going on"}});
      gateway.HangUpNow();
    }
  }
  stopper.join();
  log.Write("stop", {});
  return 0;
}
