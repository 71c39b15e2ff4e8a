#include "tools/phone/loopback_phone.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <set>

#include "gateway/audio.h"

namespace phone {
namespace {

using Clock = std::chrono::steady_clock;

bool PortFree(int port, int type) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

std::string UserOf(const std::string& aor) {
  const size_t colon = aor.find(':'), at = aor.find('@');
  return colon == std::string::npos || at == std::string::npos ? aor : aor.substr(colon + 1, at - colon - 1);
}

}  // namespace

// The first port of the kernel's range for the local ports of outgoing connections.
static int EphemeralStart() {
  int low = 0, high = 0;
  if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
    if (std::fscanf(f, "%d %d", &low, &high) != 2) low = 0;
    std::fclose(f);
  }
  return low > 0 ? low : 32768;
}

int FreePortBlock(int count, int step) {
  // Below the ephemeral range: a port inside it that is free when chosen may be given to any
  // connection made meanwhile (the test's own clients, a database's) as its local port, and the
  // server that binds it later, or binds it again after a restart, then fails.
  int low = 10000, high = std::min(EphemeralStart(), 60000) - count * step;
  if (high < low + 10) {  // a block too large for that (a benchmark's): anywhere up to 60000
    low = 20000;
    high = 60000 - count * step;
    if (high < low + 10) return 0;
  }
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<int> pick(low / 10, high / 10 - 1);
  for (int tries = 0; tries < 200; ++tries) {
    const int base = pick(random) * 10;
    bool free = true;
    for (int i = 0; i < count * step && free; ++i)
      free = PortFree(base + i, SOCK_STREAM) && PortFree(base + i, SOCK_DGRAM);
    if (free) return base;
  }
  return 0;
}

LoopbackPhone::LoopbackPhone(std::string dir, PhonePorts ports, std::vector<PhoneAccount> accounts)
    : dir_(std::move(dir)), ports_(ports), accounts_(std::move(accounts)), log_(stderr) {}

LoopbackPhone::~LoopbackPhone() { Stop(); }

std::string LoopbackPhone::DialTemplate() const { return "sip:{number}@127.0.0.1:" + std::to_string(ports_.sip); }

bool LoopbackPhone::Start(std::string& error) {
  mkdir(dir_.c_str(), 0755);
  mkdir((dir_ + "/recordings").c_str(), 0755);
  // The phone sends silence; longer than any test call.
  std::string silence = dir_ + "/phone-silence.wav";
  if (!talmery::WriteWavFile(silence, talmery::Silence(talmery::kPhoneRate, 300 * 1000), error)) return false;
  talmery::BaresipSetup s;
  s.dir = dir_ + "/phone";
  s.modulePath = "/usr/lib/baresip/modules";
  s.listenAddress = "127.0.0.1";
  s.sipPort = ports_.sip;
  s.controlPort = ports_.control;
  s.rtpFirst = ports_.rtpFirst;
  s.rtpLast = ports_.rtpFirst + 199;
  s.defaultSource = "aufile," + silence;
  s.extraModules = {"sndfile.so"};
  s.extraConfig = {"snd_path " + dir_ + "/recordings"};
  s.name = "phone";
  for (const PhoneAccount& a : accounts_) {
    const char* mode = a.behaviour == Behaviour::Answer ? "auto" : a.behaviour == Behaviour::EarlyAnswer ? "early" : "manual";
    s.accountLine += "<sip:" + a.user + "@127.0.0.1>;regint=0;audio_codecs=PCMU;answermode=" + mode + "\n";
  }
  if (!s.accountLine.empty()) s.accountLine.pop_back();
  s.aor = "sip:" + accounts_.front().user + "@127.0.0.1";
  baresip_ = std::make_unique<talmery::Baresip>(s, nullptr);
  if (!baresip_->Start(error)) return false;
  stop_ = false;
  pump_ = std::thread([this] { Pump(); });
  return true;
}

void LoopbackPhone::Stop() {
  stop_ = true;
  if (pump_.joinable()) pump_.join();
  if (baresip_) baresip_->Stop();
}

void LoopbackPhone::Pump() {
  std::vector<std::pair<Clock::time_point, std::string>> pendingAnswers;  // when, aor
  std::set<std::string> seen;  // call ids
  while (!stop_) {
    talmery::BaresipEvent e;
    const talmery::Baresip::Wait w = baresip_->NextEvent(e, Clock::now() + std::chrono::milliseconds(20));
    const Clock::time_point now = Clock::now();
    for (auto it = pendingAnswers.begin(); it != pendingAnswers.end();) {
      if (it->first > now) {
        ++it;
        continue;
      }
      std::string data;
      baresip_->CommandOnAccount(it->second, "accept", data);
      it = pendingAnswers.erase(it);
    }
    if (w == talmery::Baresip::Wait::Lost) return;
    if (w != talmery::Baresip::Wait::Event) continue;
    const std::string user = UserOf(e.aor);
    auto account = std::find_if(accounts_.begin(), accounts_.end(), [&](const PhoneAccount& a) { return a.user == user; });
    // A call is new at its first event of any kind: an account that answers early media
    // reports no CALL_INCOMING.
    if (!e.id.empty() && seen.insert(e.id).second) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        ++calls_[user];
      }
      if (account != accounts_.end() && account->behaviour == Behaviour::EarlyAnswer)
        pendingAnswers.push_back({now + std::chrono::milliseconds(account->answerAfterMs), e.aor});
    }
    if (e.klass != "call") continue;
    if (e.type == "CALL_INCOMING" && account != accounts_.end() && account->behaviour == Behaviour::Busy) {
      std::string data;
      baresip_->CommandOnAccount(e.aor, "hangup", data);
    } else if (e.type == "CALL_CLOSED") {
      std::lock_guard<std::mutex> lock(mu_);
      ++closed_;
    }
  }
}

int LoopbackPhone::CallsTo(const std::string& user) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = calls_.find(user);
  return it == calls_.end() ? 0 : it->second;
}

int LoopbackPhone::CallsClosed() {
  std::lock_guard<std::mutex> lock(mu_);
  return closed_;
}

bool LoopbackPhone::WaitForClosedCalls(int n, int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (CallsClosed() >= n) {
      usleep(200 * 1000);  // sndfile closes its file right after the call
      return true;
    }
    usleep(20 * 1000);
  }
  return false;
}

std::vector<std::string> LoopbackPhone::Recordings() const {
  std::vector<std::string> files;
  const std::string folder = dir_ + "/recordings";
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* entry = readdir(d)) {
      const std::string name = entry->d_name;
      if (name.size() > 8 && name.compare(name.size() - 8, 8, "-dec.wav") == 0) files.push_back(folder + "/" + name);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());  // named by the second the call began
  return files;
}

}  // namespace phone
