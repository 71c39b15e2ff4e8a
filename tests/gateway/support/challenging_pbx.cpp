#include "tests/gateway/support/challenging_pbx.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

namespace gwtest {
namespace {

std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

}  // namespace

ChallengingPbx::ChallengingPbx(int port, std::string password, std::map<std::string, std::string> finals,
                               const char* address)
    : password_(std::move(password)), finals_(std::move(finals)) {
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address, &addr.sin_addr);
  bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  if (bound_) thread_ = std::thread([this] { Serve(); });
}

ChallengingPbx::~ChallengingPbx() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) close(fd_);
}

void ChallengingPbx::Serve() {
  char buffer[65536];
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) continue;
    const std::string message(buffer, static_cast<size_t>(n));
    const bool invite = message.compare(0, 7, "INVITE ") == 0;
    if (!invite && message.compare(0, 9, "REGISTER ") != 0) continue;  // ACKs of our answers
    {
      static const std::regex kRoute("^Route: *([^\r]*)\r$", std::regex::icase | std::regex::multiline);
      std::lock_guard<std::mutex> lock(mu_);
      for (auto it = std::sregex_iterator(message.begin(), message.end(), kRoute); it != std::sregex_iterator(); ++it)
        routes_.push_back((*it)[1]);
    }
    std::string head, auth;
    std::smatch m;
    static const std::regex kHeader("^(Via|From|To|Call-ID|CSeq|Contact|Authorization): *([^\r]*)\r$",
                                    std::regex::icase | std::regex::multiline);
    for (auto it = std::sregex_iterator(message.begin(), message.end(), kHeader); it != std::sregex_iterator(); ++it) {
      const std::string name = (*it)[1], value = (*it)[2];
      if (name == "Authorization") auth = value;
      else head += name + ": " + value + (name == "To" && value.find(";tag=") == std::string::npos ? ";tag=pbx" : "") + "\r\n";
    }
    std::string status;
    std::smatch found;
    const bool named = invite && std::regex_search(message, found, std::regex("^INVITE sip:([^@]*)@"));
    const std::string final = named && finals_.count(found[1]) ? finals_[found[1]] : "404 Not Found";
    if (password_.empty()) {
      status = invite ? final : "200 OK\r\nExpires: 600";  // asks for nothing
    } else if (auth.empty()) {
      status = "401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"pbx\", nonce=\"n0nce\"";
    } else {
      auto field = [&](const char* name) {
        std::smatch f;
        const std::regex re(std::string(name) + "=\"([^\"]*)\"");
        return std::regex_search(auth, f, re) ? f[1].str() : std::string();
      };
      const std::string ha1 = Md5Hex(field("username") + ":pbx:" + password_);
      const std::string ha2 = Md5Hex((invite ? "INVITE:" : "REGISTER:") + field("uri"));
      const bool right = field("response") == Md5Hex(ha1 + ":n0nce:" + ha2);
      if (!invite) {
        status = right ? "200 OK" : "403 Forbidden";
        if (!right) ++refusedRegisters_;
        if (right && std::regex_search(message, found, std::regex("\r\nContact:[^\r]*;expires=([0-9]+)", std::regex::icase))) {
          std::lock_guard<std::mutex> lock(mu_);
          registrations_.push_back(found[1]);
        }
      } else {
        ++(right ? right_ : wrong_);
        status = right ? final : "403 Forbidden";
      }
    }
    const std::string reply = "SIP/2.0 " + status + "\r\n" + head + "Content-Length: 0\r\n\r\n";
    sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
  }
}

}  // namespace gwtest
