#include "tests/gateway/support/scripted_peer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <utility>

#include "tests/gateway/support/sip_text.h"

namespace gwtest {
namespace {

constexpr char kEvil[] = "WWW-Authenticate: Digest realm=\"evil\", nonce=\"n\"\r\n";

bool Bind(int fd, const char* address, int port) {
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address, &at.sin_addr);
  return bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
}


}  // namespace

ScriptedPeer::ScriptedPeer(int port) : port_(port) {
  for (int i = 0; i < 3; ++i) fds_[i] = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  bound_ = Bind(fds_[0], "127.0.0.1", port) && Bind(fds_[1], "127.0.0.2", port) && Bind(fds_[2], "127.0.0.2", 0);
  if (bound_) thread_ = std::thread([this] { Serve(); });
}

ScriptedPeer::~ScriptedPeer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  for (int fd : fds_) close(fd);
}

void ScriptedPeer::Reply(int fd, const sockaddr_in& to, const std::string& request, const std::string& status,
                         const std::string& extra, const std::string& body) {
  std::string toHeader = SipHeader(request, "To");
  if (toHeader.find(";tag=") == std::string::npos) toHeader += ";tag=peer";
  const std::string reply = "SIP/2.0 " + status + "\r\nVia: " + SipHeader(request, "Via") + "\r\nFrom: " +
                            SipHeader(request, "From") + "\r\nTo: " + toHeader + "\r\nCall-ID: " + SipHeader(request, "Call-ID") +
                            "\r\nCSeq: " + SipHeader(request, "CSeq") + "\r\n" + extra + "Content-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body;
  sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void ScriptedPeer::Intrude(const std::string& invite, const sockaddr_in& gateway) {
  const std::string callId = SipHeader(invite, "Call-ID"), from = SipHeader(invite, "From");
  const std::string contact = SipHeader(invite, "Contact");
  const std::string target = contact.substr(contact.find('<') + 1, contact.find('>') - contact.find('<') - 1);
  const std::string sdp = "v=0\r\no=- 2 2 IN IP4 127.0.0.2\r\ns=-\r\nc=IN IP4 127.0.0.2\r\nt=0 0\r\nm=audio 40000 RTP/AVP 0\r\n";
  sockaddr_in me{};
  socklen_t size = sizeof me;
  getsockname(fds_[2], reinterpret_cast<sockaddr*>(&me), &size);
  const std::string via = "127.0.0.2:" + std::to_string(ntohs(me.sin_port));
  int cseq = 100;
  for (const auto& [method, body] : std::vector<std::pair<std::string, std::string>>{
           {"INFO", "Signal=1\r\nDuration=160\r\n"}, {"BYE", ""}, {"INVITE", sdp}}) {
    const std::string type = method == "INFO" ? "application/dtmf-relay" : "application/sdp";
    const std::string seq = std::to_string(cseq++);
    const std::string request = method + " " + target + " SIP/2.0\r\nVia: SIP/2.0/UDP " + via + ";branch=z9hG4bK-x" +
                                std::to_string(cseq) + "\r\nFrom: " + SipHeader(invite, "To") + ";tag=peer\r\nTo: " + from +
                                "\r\nCall-ID: " + callId + "\r\nCSeq: " + seq + " " + method +
                                "\r\nMax-Forwards: 70\r\nContact: <sip:x@127.0.0.2>\r\n" +
                                (body.empty() ? "" : "Content-Type: " + type + "\r\n") + "Content-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    sendto(fds_[2], request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&gateway), sizeof gateway);
  }
}

void ScriptedPeer::Serve() {
  std::map<std::string, std::string> invites;  // the INVITE of each Call-ID, for its ACK
  char buffer[65536];
  while (!stop_) {
    pollfd p[3] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}, {fds_[2], POLLIN, 0}};
    if (poll(p, 3, 50) <= 0) continue;
    for (int i = 0; i < 3; ++i) {
      if (!(p[i].revents & POLLIN)) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = recvfrom(fds_[i], buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0) continue;
      const std::string m(buffer, static_cast<size_t>(n));
      std::lock_guard<std::mutex> lock(mu_);
      if (i == 2) {
        strangerGot_.push_back(m.substr(0, m.find("\r\n")));
        continue;
      }
      const std::string method = m.substr(0, m.find(' '));
      if (method == "BYE") Reply(fds_[i], from, m, i == 1 ? "401 Unauthorized" : "200 OK", i == 1 ? kEvil : "");
      if (method == "ACK" && invites.count(SipHeader(m, "Call-ID"))) {
        Intrude(invites[SipHeader(m, "Call-ID")], from);
        invites.erase(SipHeader(m, "Call-ID"));
      }
      if (method != "INVITE") continue;
      const std::string uri = m.substr(7, m.find(' ', 7) - 7);
      invited_.push_back(uri);
      if (i == 1) {
        Reply(fds_[i], from, m, "401 Unauthorized", kEvil);
        continue;
      }
      const std::string user = uri.substr(4, uri.find('@') - 4), here = "@127.0.0.1:" + std::to_string(port_);
      const auto media = [](const char* address) {
        return std::string("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 ") + address +
               "\r\nt=0 0\r\nm=audio 40000 RTP/AVP 0\r\n";
      };
      if (user == "2001") Reply(fds_[i], from, m, "302 Moved Temporarily", "Contact: <sip:0900666777" + here + ">\r\n");
      else if (user == "2002")
        Reply(fds_[i], from, m, "302 Moved Temporarily", "Contact: <sip:2002@127.0.0.2:" + std::to_string(port_) + ">\r\n");
      else if (user == "2004")  // twice, as when the ACK is lost: still one redirect
        for (int copy = 0; copy < 2; ++copy) Reply(fds_[i], from, m, "302 Moved Temporarily", "Contact: <sip:2005" + here + ">\r\n");
      else if (user == "5550100" || user == "5550001" || user == "5550002") {
        if (user == "5550100") invites[SipHeader(m, "Call-ID")] = m;
        const std::string contact = user == "5550002" ? "@127.0.0.2:" + std::to_string(port_) : here;
        Reply(fds_[i], from, m, "200 OK", "Contact: <sip:peer" + contact + ">\r\nContent-Type: application/sdp\r\n",
              media(user == "5550001" ? "0.0.0.0" : "127.0.0.1"));
      } else Reply(fds_[i], from, m, "486 Busy Here");
    }
  }
}

}  // namespace gwtest
