#pragma once
// A SIP peer on UDP of the test's own, at 127.0.0.1:port, that acts by the number dialled:
// 2001 redirects to a premium number, 2002 to the same extension on another host (127.0.0.2,
// where a listener that counts INVITEs and challenges them with realm "evil" waits), 2004 to
// 2005 on the PBX (the redirect sent twice), which is busy; 5550100 answers with PCMU as the static payload type 0 and no
// a=rtpmap, and once the call is up someone at 127.0.0.2 who knows its Call-ID sends an INFO with
// key 1, a BYE and a re-INVITE into it; 5550001 answers with media at 0.0.0.0; 5550002 answers
// with its Contact on 127.0.0.2, which challenges the BYE (realm "evil").
#include <netinet/in.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace gwtest {

class ScriptedPeer {
 public:
  explicit ScriptedPeer(int port);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;
  bool bound() const { return bound_; }
  std::vector<std::string> Invited() {  // the request URIs of the INVITEs, here and on 127.0.0.2
    std::lock_guard<std::mutex> lock(mu_);
    return invited_;
  }
  std::vector<std::string> StrangerGot() {  // the status lines the stranger's requests drew
    std::lock_guard<std::mutex> lock(mu_);
    return strangerGot_;
  }

 private:
  void Reply(int fd, const sockaddr_in& to, const std::string& request, const std::string& status,
             const std::string& extra = "", const std::string& body = "");
  // Requests into the call from 127.0.0.2, as its own To and From (the peer's side of the dialog).
  void Intrude(const std::string& invite, const sockaddr_in& gateway);
  void Serve();

  const int port_;
  int fds_[3] = {-1, -1, -1};
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  std::vector<std::string> invited_, strangerGot_;
  std::thread thread_;
};

}  // namespace gwtest
