#include "tests/gateway/support/name_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace gwtest {
namespace {

std::string Labels(const std::string& name) {  // the name as DNS labels
  std::string labels;
  for (size_t from = 0; from <= name.size();) {
    const size_t dot = std::min(name.find('.', from), name.size());
    labels += static_cast<char>(dot - from);
    labels += name.substr(from, dot - from);
    from = dot + 1;
  }
  return labels + '\0';
}

}  // namespace

OneNameServer::OneNameServer(const std::string& host, int srvPort)
    : name_(Labels(host)), srvName_(Labels("_sip._udp." + host)), target_(Labels("sip." + host)), srvPort_(srvPort) {
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(53);
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
  thread_ = std::thread([this] { Serve(); });
}

OneNameServer::~OneNameServer() {
  stop_ = true;
  thread_.join();
  close(fd_);
}

void OneNameServer::Serve() {
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 100) != 1) continue;
    char query[512];
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const ssize_t n = recvfrom(fd_, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (n < 12) continue;
    const size_t question = std::string(query + 12, n - 12).find('\0');
    if (question == std::string::npos || 12 + question + 5 > static_cast<size_t>(n)) continue;
    const std::string name(query + 12, question + 1);
    const int type = (static_cast<uint8_t>(query[12 + question + 1]) << 8) | static_cast<uint8_t>(query[12 + question + 2]);
    std::string answer(query, 12 + question + 5);  // the header and the question
    answer[2] = static_cast<char>(0x84 | (query[2] & 1));  // a response, authoritative, RD kept
    answer[3] = 0;
    const bool srv = srvPort_ && name == srvName_ && type == 33;
    const bool known = ((name == name_ || (srvPort_ && name == target_)) && type == 1) || srv;
    answer[6] = 0;
    answer[7] = known ? 1 : 0;
    answer[8] = answer[9] = answer[10] = answer[11] = 0;
    const std::string record("\xC0\x0C\x00\x01\x00\x01\x00\x00\x00\x3C\x00\x04\x7F\x00\x00", 15);
    if (known && !srv) answer += record + (name == name_ ? '\x01' : '\x02');
    if (srv) {  // priority 0, weight 0, the port, the target
      const std::string data = std::string(4, '\0') + static_cast<char>(srvPort_ >> 8) + static_cast<char>(srvPort_ & 255) + target_;
      answer += std::string("\xC0\x0C\x00\x21\x00\x01\x00\x00\x00\x3C\x00", 11) + static_cast<char>(data.size()) + data;
    }
    sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), size);
  }
}

}  // namespace gwtest
