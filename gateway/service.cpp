#include "gateway/service.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "gateway/audio.h"
#include "gateway/event_log.h"
#include "gateway/metrics.h"
#include "gateway/open_files.h"
#include "gateway/pg_store.h"
#include "gateway/sqlite_store.h"

namespace talmery {
namespace {

bool MakeDirs(const std::string& path, mode_t mode, std::string& error) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || (path[i] == '/' && i > 0)) {
      partial = path.substr(0, i);
      if (mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
        error = "cannot create " + partial + ": " + std::strerror(errno);
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool Gateway::PrepareSpool(std::string& error) {
  const std::string spool = config_.SpoolDir();
  if (!MakeDirs(spool + "/speech", 0700, error)) return false;
  chmod((spool + "/speech").c_str(), 0700);
  // Messages of calls a crash cut short: they hold call texts, and nothing will play them.
  if (DIR* dir = opendir((spool + "/speech").c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0) unlink((spool + "/speech/" + name).c_str());
    }
    closedir(dir);
  }
  if (config_.mode == DialMode::Speaker) {
    if (!MakeDirs(config_.speakerDir, 0700, error)) return false;
    chmod(config_.speakerDir.c_str(), 0700);  // it holds the texts spoken
  }
  return true;
}

bool Gateway::Start(std::string& error) {
  if (config_.SharedStore())
    store_ = PgStore::Open(config_.database, config_.NodeName(), config_.leaseSeconds, clock_, error, metrics::CommitTook);
  else store_ = SqliteStore::Open(config_.database, clock_, error, config_.NodeName(), metrics::CommitTook);
  if (!store_) return false;
  if (!PrepareSpool(error)) return false;

  std::string why;
  for (const CallRecord& c : store_->CloseInterrupted(clock_.Now(), why)) {
    log_.Write("state", {{"call", std::to_string(c.id)}, {"state", c.state}, {"attempt", std::to_string(c.attempts)},
                         {"outcome", "interrupted"}, {"detail", c.reason}});
    metrics::TryEnded("interrupted", 0, c.state);
  }
  // Calls cut short stay as they are (never dialled again) until a start can close them.
  if (!why.empty()) log_.Write("store", {{"state", "failing"}, {"error", why}, {"cut-short", "left dialling"}});
  OpenFiles files;
  if (!TakeOpenFiles(config_.mode == DialMode::Sip ? config_.maxCalls : 1, log_, files, error)) return false;
  std::vector<std::unique_ptr<Line>> lines;
  if (config_.mode == DialMode::Speaker) {
    lines.push_back(MakeSpeakerLine(config_));
  } else {
    engine_ = std::make_unique<SipEngine>(config_, log_, files.limit);
    if (!engine_->Start(error)) return false;
    for (int i = 0; i < config_.maxCalls; ++i) lines.push_back(MakeSipLine(config_, *engine_));
    if (config_.sip.registerSeconds > 0) registration_ = std::make_unique<Registration>(config_, *engine_, log_);
  }
  dispatcher_ = std::make_unique<Dispatcher>(config_, *store_, log_, std::move(lines), clock_);
  if (registration_) dispatcher_->SetRegistrationState([this] { return registration_->State(); });
  http_ = std::make_unique<HttpApi>(config_, *store_, log_, [this] { dispatcher_->Wake(); }, clock_);
  if (!http_->Bind(error, files.httpConnections)) return false;
  if (registration_) registration_->Start();
  dispatcher_->Start();
  serving_ = std::thread([this] { http_->Serve(); });
  LogFields started = {{"mode", config_.mode == DialMode::Sip ? "sip" : "speaker"},
                       {"listen", config_.listenHost + ":" + std::to_string(http_->Port())},
                       {"database", config_.database},
                       {"lines", std::to_string(config_.mode == DialMode::Sip ? config_.maxCalls : 1)}};
  if (config_.Https()) started.push_back({"tls", "1.2,1.3"});
  if (config_.listenPlainPort >= 0)
    started.push_back({"listen_plain", config_.listenPlainHost + ":" + std::to_string(http_->PlainPort())});
  if (store_->Shared()) started.push_back({"node", config_.NodeName()});
  log_.Write("start", started);
  return true;
}

void Gateway::Stop(int graceSeconds) {
  if (http_) http_->Stop();
  if (serving_.joinable()) serving_.join();
  if (dispatcher_) dispatcher_->Stop(graceSeconds);
  if (registration_) registration_->Stop();  // the registration is removed before we exit
  if (engine_) engine_->Stop();              // and its answer awaited, a few seconds at most
}

bool Gateway::Reload(std::string& error) {
  if (!http_) {
    error = "the gateway is not serving";
  } else if (!config_.Https()) {
    log_.Write("reload", {{"tls", "none: listen is not HTTPS, nothing to read again"}});
    return true;
  } else if (http_->Reload(error)) {
    log_.Write("reload", {{"tls_certificate", config_.tlsCertificate}, {"tls_key", config_.tlsKey}});
    return true;
  }
  log_.Write("reload", {{"error", error}, {"kept", "the certificate served so far"}});
  return false;
}

void Gateway::HangUpNow() {
  if (dispatcher_) dispatcher_->HangUpNow();
}

}  // namespace talmery
