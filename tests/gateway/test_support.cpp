#include "tests/gateway/test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace gwtest {

using Clock = std::chrono::steady_clock;

std::string Exchange(int port, const std::string& bytes, int timeoutMs) { return ExchangeFrom("", port, bytes, timeoutMs); }

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int ConnectTo(int port, const std::string& source) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  sockaddr_in addr = LoopbackAddress(port);
  if (fd >= 0 && (source.empty() || (inet_pton(AF_INET, source.c_str(), &local.sin_addr) == 1 &&
                                     bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0)) &&
      connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
    return fd;
  if (fd >= 0) close(fd);
  return -1;
}

bool ReadUntilClosed(int fd, int timeoutMs, std::string& got) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[8192];
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
    got.append(buffer, static_cast<size_t>(n));
  }
  return false;
}

std::string ExchangeFrom(const std::string& source, int port, const std::string& bytes, int timeoutMs) {
  const int fd = ConnectTo(port, source);
  if (fd < 0) return "(cannot connect from " + (source.empty() ? std::string("here") : source) + ")";
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // the server may answer and close before taking everything
    sent += static_cast<size_t>(n);
  }
  shutdown(fd, SHUT_WR);
  std::string response;
  ReadUntilClosed(fd, timeoutMs, response);
  close(fd);
  return response;
}

std::string PostCall(int port, const std::string& body) {
  return Exchange(port,
                  "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                  "Host: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
                      "\r\nUser-Agent: Brisomel\r\nConnection: close\r\n\r\n" + body);
}

std::string KeepAlivePostCall(int fd, const std::string& body) {
  const std::string request = "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: x\r\nContent-Type: "
                              "application/x-www-form-urlencoded\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return "";
  std::string got;
  char buffer[2048];
  for (;;) {
    const size_t head = got.find("\r\n\r\n");
    if (head != std::string::npos) {
      const size_t cl = got.find("Content-Length: ");
      const size_t length = cl == std::string::npos ? 0 : std::strtoul(got.c_str() + cl + 16, nullptr, 10);
      if (got.size() >= head + 4 + length) return got.substr(head + 4, length);
    }
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return "";
    got.append(buffer, static_cast<size_t>(n));
  }
}

std::string BodyOf(const std::string& response) {
  const size_t at = response.find("\r\n\r\n");
  return at == std::string::npos ? "" : response.substr(at + 4);
}

nlohmann::json CallStatus(int port, long long id) {
  const std::string response =
      Exchange(port, "GET /calls/" + std::to_string(id) + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  if (response.compare(0, 12, "HTTP/1.1 200") != 0) return nullptr;
  return nlohmann::json::parse(BodyOf(response), nullptr, false);
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int everyMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (done()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
  }
}

nlohmann::json WaitForState(int port, long long id, const std::string& state, int timeoutMs) {
  nlohmann::json status;
  WaitUntil(
      [&] {
        status = CallStatus(port, id);
        return status.is_object() && status["state"] == state;
      },
      timeoutMs, 50);
  return status;
}

talmery::Config SpeakerConfig(const std::string& dir) {
  talmery::Config c;
  c.listenPort = 0;
  c.database = dir + "/calls.db";
  c.mode = talmery::DialMode::Speaker;
  c.speakerDir = dir + "/speaker";
  return c;
}

std::string CallBody(const std::string& number, const std::string& text, bool selfDelete) {
  std::string encoded;
  char escape[4];
  for (unsigned char c : text) {
    if (std::isalnum(c)) encoded += static_cast<char>(c);
    else if (c == ' ') encoded += '+';
    else {
      std::snprintf(escape, sizeof escape, "%%%02x", c);
      encoded += escape;
    }
  }
  return std::string("calltime=0&selfdelete=") + (selfDelete ? "1" : "0") + "&firstocc=15&phoneno=" + number +
         "&txt=" + encoded;
}

InProcessGateway::InProcessGateway(talmery::Config config) : config_(std::move(config)) {}

InProcessGateway::~InProcessGateway() {
  gateway_.reset();
  if (logFile_) std::fclose(logFile_);
}

bool InProcessGateway::Start(std::string& error) {
  logFile_ = std::fopen((logDir_.path() + "/log").c_str(), "w");
  log_ = std::make_unique<talmery::EventLog>(logFile_);
  log_->AddSecret(config_.sip.password);
  gateway_ = std::make_unique<talmery::Gateway>(config_, *log_);
  return gateway_->Start(error);
}

std::string InProcessGateway::LogText() const { return ReadFile(logDir_.path() + "/log"); }

bool InProcessGateway::WaitForLog(const std::string& text, int timeoutMs) const {
  return WaitUntil([&] { return LogText().find(text) != std::string::npos; }, timeoutMs);
}

GatewayProcess::GatewayProcess(const std::string& configPath, const std::string& logPath) : logPath_(logPath) {
  std::string program = TALMERY_GATEWAY_EXE, flag = "--config", config = configPath;
  char* argv[] = {program.data(), flag.data(), config.data(), nullptr};
  const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(log, STDERR_FILENO);
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    execv(argv[0], argv);
    _exit(127);
  }
  close(log);
}

GatewayProcess::~GatewayProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool GatewayProcess::WaitUntilServing(int timeoutMs) {
  return WaitUntil([&] { return ReadFile(logPath_).find("event=start ") != std::string::npos; }, timeoutMs);
}

void GatewayProcess::Kill(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

int GatewayProcess::Wait(int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pid_ > 0 && Clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

bool MakeCertificate(const std::string& dir, const std::string& name, const std::string& host) {
  const std::string key = dir + "/" + name + ".key", cert = dir + "/" + name + ".crt";
  const std::string subject = host.empty() ? "/CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"
                                           : "/CN=" + host + " -addext subjectAltName=DNS:" + host;
  const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj " + subject + " -keyout " +
                              key + " -out " + cert + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return false;
  WriteFile(dir + "/" + name + ".pem", ReadFile(cert) + ReadFile(key));
  return true;
}

}  // namespace gwtest
