#include "tools/phone/baresip.h"

#include <algorithm>
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <fstream>
#include <nlohmann/json.hpp>

#include "gateway/event_log.h"

namespace talmery {
namespace {

constexpr size_t kOutputLines = 40;

bool WritePrivateFile(const std::string& path, const std::string& text, std::string& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  fchmod(fd, 0600);  // an older file may have had wider rights
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = "cannot write " + path + ": " + std::strerror(errno);
      close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  return true;
}

// PR_SET_PDEATHSIG fires when the *thread* that forked the child ends, not the process. Lines
// start their agents from their own threads, which end at a stop before the agents are told to
// stop: the agents would be killed before they could remove their registration. So every fork
// runs on this one thread, which lives as long as the process.
class Forker {
 public:
  static Forker& Instance() {
    static Forker forker;
    return forker;
  }
  // Runs `fork` on the long-lived thread and returns what it returned.
  pid_t Run(const std::function<pid_t()>& fork) {
    std::unique_lock<std::mutex> lock(mu_);
    const std::function<pid_t()>* job = &fork;
    pid_t result = -1;
    bool done = false;
    jobs_.push_back({job, &result, &done});
    wake_.notify_all();
    finished_.wait(lock, [&] { return done; });
    return result;
  }

 private:
  struct Job {
    const std::function<pid_t()>* fork;
    pid_t* result;
    bool* done;
  };
  Forker() : thread_([this] { Loop(); }) {}
  ~Forker() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void Loop() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      Job job = jobs_.front();
      jobs_.pop_front();
      *job.result = (*job.fork)();
      *job.done = true;
      finished_.notify_all();
    }
  }
  std::mutex mu_;
  std::condition_variable wake_, finished_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace

Baresip::Baresip(BaresipSetup setup, EventLog* log) : setup_(std::move(setup)), log_(log) {}

Baresip::~Baresip() { Stop(); }

bool Baresip::WriteFiles(std::string& error) {
  if (mkdir(setup_.dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + setup_.dir + ": " + std::strerror(errno);
    return false;
  }
  chmod(setup_.dir.c_str(), 0700);
  // A whole config: without one baresip writes a template that loads sound-card modules, and
  // with no sound card a call would close right after the answer.
  std::string config =
      "poll_method epoll\n"
      "sip_listen " + setup_.listenAddress + ":" + std::to_string(setup_.sipPort) + "\n"
      "net_interface " + setup_.listenAddress + "\n"
      "audio_player none,none\n"
      "audio_alert none,none\n"
      "audio_source " + setup_.defaultSource + "\n"
      "rtp_ports " + std::to_string(setup_.rtpFirst) + "-" + std::to_string(setup_.rtpLast) + "\n"
      "module_path " + setup_.modulePath + "\n"
      "module g711.so\n"
      "module aufile.so\n";
  for (const std::string& m : setup_.extraModules) config += "module " + m + "\n";
  for (const std::string& c : setup_.extraConfig) config += c + "\n";
  config +=
      "module_tmp account.so\n"
      "module_app menu.so\n"
      "module_app ctrl_tcp.so\n"
      "ctrl_tcp_listen 127.0.0.1:" + std::to_string(setup_.controlPort) + "\n";
  return WritePrivateFile(setup_.dir + "/config", config, error) &&
         WritePrivateFile(setup_.dir + "/accounts", setup_.accountLine + "\n", error) &&
         WritePrivateFile(setup_.dir + "/contacts", "", error);
}

bool Baresip::Spawn(std::string& error) {
  // The password goes through a pipe on standard input, which baresip's account loader reads
  // when an account has an auth_user and no auth_pass: it never lies in a file, and the account
  // syntax (which ends a value at a blank or ';') does not limit its characters.
  int in[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    close(in[0]);
    close(in[1]);
    return false;
  }
  // Everything the child needs is made before fork: after it, only async-signal-safe calls.
  std::string program = setup_.program, flag = "-f", dir = setup_.dir;
  char* argv[] = {program.data(), flag.data(), dir.data(), nullptr};
  const pid_t parent = getpid();
  const pid_t pid = Forker::Instance().Run([&]() -> pid_t {
    const pid_t child = fork();
    if (child != 0) return child;
    // Dies with the gateway, even a gateway killed with SIGKILL, so that no call outlives the
    // record of it; its own process group keeps a terminal's Ctrl-C for us to handle.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);
    setpgid(0, 0);
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    // No descriptor of ours (the HTTP socket above all) may live on in baresip.
    close_range(3, ~0U, 0);
    signal(SIGPIPE, SIG_DFL);
    execvp(argv[0], argv);
    _exit(127);
  });
  if (pid < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
    return false;
  }
  close(in[0]);
  close(out[1]);
  // Less than a pipe's buffer: the write does not wait for the child. Closing the pipe then
  // gives baresip an end of input rather than a terminal to wait on.
  if (!setup_.password.empty()) {
    const std::string line = setup_.password + "\n";
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = write(in[1], line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  close(in[1]);
  pid_ = pid;
  outputThread_ = std::thread([this, fd = out[0]] { ReadOutput(fd); });
  return true;
}

void Baresip::ReadOutput(int fd) {
  std::string partial;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    partial.append(buffer, static_cast<size_t>(n));
    size_t nl;
    while ((nl = partial.find('\n')) != std::string::npos) {
      std::string line = partial.substr(0, nl);
      partial.erase(0, nl + 1);
      std::lock_guard<std::mutex> lock(outputMu_);
      output_.push_back(line.substr(0, 300));
      if (output_.size() > kOutputLines) output_.pop_front();
    }
  }
  close(fd);
}

std::string Baresip::LastOutput() {
  std::lock_guard<std::mutex> lock(outputMu_);
  std::string text;
  for (const std::string& line : output_) text += line + "\n";
  // The password appears in no line we know of; should a version echo it, it still goes no
  // further than here.
  if (!setup_.password.empty()) text = Redact(text, {setup_.password});
  return text;
}

// The other end of `fd`, a connection to 127.0.0.1:<control port>, must be a socket that our
// baresip holds: another local user may listen on the port first, and would then receive the
// numbers we dial. The kernel's table of TCP sockets gives the accepting socket's inode and
// owner; the inode must be among the child's descriptors.
bool Baresip::PeerIsOurs(int fd, std::string& who) {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) return false;
  char server[32], client[32];
  std::snprintf(server, sizeof server, "0100007F:%04X", static_cast<unsigned>(setup_.controlPort));
  std::snprintf(client, sizeof client, "0100007F:%04X", static_cast<unsigned>(ntohs(local.sin_port)));
  who = "unknown";
  for (int tries = 0; tries < 100; ++tries) {  // the inode appears once the peer accepted
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    unsigned long inode = 0;
    while (std::getline(table, line)) {
      char localAddress[64], remoteAddress[64];
      unsigned uid = 0;
      unsigned long node = 0;
      if (std::sscanf(line.c_str(), " %*s %63s %63s %*s %*s %*s %*s %u %*s %lu", localAddress, remoteAddress, &uid,
                      &node) != 4)
        continue;
      if (std::strcmp(localAddress, server) != 0 || std::strcmp(remoteAddress, client) != 0) continue;
      who = "uid " + std::to_string(uid);
      inode = node;
    }
    if (inode != 0) {
      const std::string dir = "/proc/" + std::to_string(pid_) + "/fd";
      const std::string wanted = "socket:[" + std::to_string(inode) + "]";
      if (DIR* d = opendir(dir.c_str())) {
        bool found = false;
        while (dirent* entry = readdir(d)) {
          char target[64];
          const ssize_t n = readlinkat(dirfd(d), entry->d_name, target, sizeof target - 1);
          if (n > 0 && std::string(target, static_cast<size_t>(n)) == wanted) found = true;
        }
        closedir(d);
        if (found) return true;
      }
      return false;
    }
    usleep(10000);
  }
  return false;
}

bool Baresip::Connect(std::string& error) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error = "baresip ended at its start (" +
              std::string(WIFEXITED(status) && WEXITSTATUS(status) == 127 ? "cannot run " + setup_.program
                                                                           : "exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1)) +
              ")";
      return false;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(setup_.controlPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      std::string who;
      if (!PeerIsOurs(fd, who)) {
        close(fd);
        if (log_)
          log_->Write("intrusion", {{"line", setup_.name}, {"control", "127.0.0.1:" + std::to_string(setup_.controlPort)},
                                    {"owner", who}, {"what", "another process holds the control port; nothing was sent"}});
        error = "another process (" + who + ") holds the control port 127.0.0.1:" + std::to_string(setup_.controlPort);
        return false;
      }
      const int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      control_ = fd;
      lost_ = false;
      reader_ = NetstringReader();
      events_.clear();
      responses_.clear();
      return true;
    }
    if (fd >= 0) close(fd);
    if (std::chrono::steady_clock::now() > deadline) {
      error = "baresip's control port 127.0.0.1:" + std::to_string(setup_.controlPort) + " does not answer";
      return false;
    }
    usleep(20000);
  }
}

bool Baresip::Start(std::string& error) {
  Stop();
  if (!WriteFiles(error) || !Spawn(error)) return false;
  if (!Connect(error)) {
    Stop();
    error += "; its output:\n" + LastOutput();
    return false;
  }
  // The account must be there: this also proves we speak to our own baresip, not to another
  // program that holds the control port.
  std::string data;
  if (!Command("uafind", setup_.aor, data, 5000)) {
    error = "baresip did not load the account " + setup_.aor + " (" + data + ")";
    Stop();
    error += "; its output:\n" + LastOutput();
    return false;
  }
  if (log_)
    log_->Write("line", {{"line", setup_.name}, {"state", "started"}, {"pid", std::to_string(pid_)},
                         {"sip", setup_.listenAddress + ":" + std::to_string(setup_.sipPort)}});
  return true;
}

void Baresip::Stop(bool graceful) {
  if (control_ >= 0) {
    close(control_);
    control_ = -1;
  }
  if (pid_ > 0) {
    // On SIGTERM baresip removes its registration (REGISTER with Expires 0) and waits briefly
    // for the registrar's answer before it exits: give it the time for that.
    kill(pid_, graceful ? SIGTERM : SIGKILL);
    int status = 0;
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) gone = true;
      else usleep(10000);
    }
    if (!gone) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  if (outputThread_.joinable()) outputThread_.join();
}

bool Baresip::Running() {
  if (pid_ <= 0 || control_ < 0 || lost_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

bool Baresip::Receive(SteadyTime deadline) {
  if (control_ < 0 || lost_) return false;
  const auto now = std::chrono::steady_clock::now();
  const int timeout =
      deadline <= now ? 0 : static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count()) + 1;
  pollfd p{control_, POLLIN, 0};
  const int ready = poll(&p, 1, timeout);
  if (ready < 0 && errno == EINTR) return true;
  if (ready <= 0) return true;
  char buffer[16384];
  const ssize_t n = recv(control_, buffer, sizeof buffer, 0);
  if (n <= 0) {
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    lost_ = true;
    // A connection that ends while the process lives was closed by someone else.
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == 0 && log_)
      log_->Write("intrusion", {{"line", setup_.name}, {"control", "127.0.0.1:" + std::to_string(setup_.controlPort)},
                                {"what", "another local process took the control connection; the agent is restarted"}});
    return false;
  }
  // libre sets no TCP_NODELAY on its side: acknowledging at once keeps its events from
  // waiting for our delayed ACK.
  const int one = 1;
  setsockopt(control_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
  reader_.Feed(buffer, static_cast<size_t>(n));
  std::string payload;
  while (reader_.Next(payload)) {
    const nlohmann::json j = nlohmann::json::parse(payload, nullptr, false);
    if (!j.is_object()) continue;
    auto text = [&](const char* key) {
      auto it = j.find(key);
      return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    if (j.value("response", false)) {
      responses_.push_back({text("token"), {j.value("ok", false), text("data")}});
    } else if (j.value("event", false)) {
      events_.push_back({text("class"), text("type"), text("id"), text("param"), text("accountaor"), text("peeruri")});
    }
  }
  if (reader_.Failed()) {
    if (log_) log_->Write("line", {{"line", setup_.name}, {"error", reader_.Error()}});
    lost_ = true;
    return false;
  }
  return true;
}

bool Baresip::Command(const std::string& command, const std::string& params, std::string& data, int timeoutMs) {
  return SendAndWait({{command, params}}, data, timeoutMs);
}

bool Baresip::CommandOnAccount(const std::string& aor, const std::string& command, std::string& data,
                               int timeoutMs) {
  return SendAndWait({{"uafind", aor}, {command, ""}}, data, timeoutMs);
}

bool Baresip::SendAndWait(const std::vector<std::pair<std::string, std::string>>& commands, std::string& data,
                          int timeoutMs) {
  data.clear();
  if (control_ < 0 || lost_) {
    data = "no connection to baresip";
    return false;
  }
  responses_.clear();  // late answers to commands that timed out earlier
  std::vector<std::string> tokens;
  std::string frames;
  for (const auto& [command, params] : commands) {
    tokens.push_back("t" + std::to_string(nextToken_++));
    const nlohmann::json j = {{"command", command}, {"params", params}, {"token", tokens.back()}};
    frames += EncodeNetstring(j.dump());
  }
  size_t done = 0;
  while (done < frames.size()) {
    const ssize_t n = send(control_, frames.data() + done, frames.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lost_ = true;
      data = "no connection to baresip";
      return false;
    }
    done += static_cast<size_t>(n);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (size_t i = 0; i < tokens.size();) {
    auto it = std::find_if(responses_.begin(), responses_.end(), [&](const auto& r) { return r.first == tokens[i]; });
    if (it != responses_.end()) {
      const bool ok = it->second.first;
      data = it->second.second;
      responses_.erase(it);
      if (!ok) return false;
      ++i;
      continue;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      data = "baresip did not answer " + commands[i].first;
      return false;
    }
    if (!Receive(deadline)) {
      data = "no connection to baresip";
      return false;
    }
  }
  return true;
}

bool Baresip::Idle() {
  if (!Running()) return false;
  while (Receive(std::chrono::steady_clock::now())) {
    if (events_.empty()) break;
    events_.clear();  // nothing of ours goes on between calls
  }
  if (!Running()) return false;
  // baresip answers only its newest control client, and keeps the older connection open: a
  // connection that no longer answers was taken by another local process.
  std::string data;
  if (Command("uafind", setup_.aor, data, 2000)) return true;
  if (!lost_ && log_)
    log_->Write("intrusion", {{"line", setup_.name}, {"control", "127.0.0.1:" + std::to_string(setup_.controlPort)},
                              {"what", "another local process took the control connection; the agent is restarted"}});
  lost_ = true;
  return false;
}

Baresip::Wait Baresip::NextEvent(BaresipEvent& event, SteadyTime deadline) {
  for (;;) {
    if (!events_.empty()) {
      event = std::move(events_.front());
      events_.pop_front();
      return Wait::Event;
    }
    if (std::chrono::steady_clock::now() >= deadline) return Wait::Timeout;
    if (!Receive(deadline)) return Wait::Lost;
  }
}

}  // namespace talmery
