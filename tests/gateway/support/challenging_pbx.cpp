#include "tests/gateway/support/challenging_pbx.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/gateway/support/sip_text.h"

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
      std::lock_guard<std::mutex> lock(mu_);
      for (const std::string& route : SipHeaders(message, "Route")) routes_.push_back(route);
    }
    // The answer's head: the request's dialog fields, the To given a tag.
    std::string head;
    for (const char* name : {"Via", "From", "To", "Call-ID", "CSeq", "Contact"}) {
      for (const std::string& value : SipHeaders(message, name)) {
        const bool tagless = std::string(name) == "To" && value.find(";tag=") == std::string::npos;
        head += std::string(name) + ": " + value + (tagless ? ";tag=pbx" : "") + "\r\n";
      }
    }
    const std::string auth = SipHeader(message, "Authorization");
    std::string status;
    const std::string user = invite ? SipRequestUser(message) : std::string();
    const std::string final = finals_.count(user) ? finals_[user] : "404 Not Found";
    if (password_.empty()) {
      status = invite ? final : "200 OK\r\nExpires: 600";  // asks for nothing
    } else if (auth.empty()) {
      status = "401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"pbx\", nonce=\"n0nce\"";
    } else {
      const auto field = [&](const char* name) { return SipParam(auth, name); };
      const std::string ha1 = Md5Hex(field("username") + ":pbx:" + password_);
      const std::string ha2 = Md5Hex((invite ? "INVITE:" : "REGISTER:") + field("uri"));
      const bool right = field("response") == Md5Hex(ha1 + ":n0nce:" + ha2);
      if (!invite) {
        status = right ? "200 OK" : "403 Forbidden";
        if (!right) ++refusedRegisters_;
        const std::string expires = SipParam(SipHeader(message, "Contact"), "expires");
        if (right && !expires.empty()) {
          std::lock_guard<std::mutex> lock(mu_);
          registrations_.push_back(expires);
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
