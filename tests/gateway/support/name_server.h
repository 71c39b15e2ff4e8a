#pragma once
#include <atomic>
#include <string>
#include <thread>

namespace gwtest {

// A name server on 127.0.0.1:53 that knows one name: `host` has the address 127.0.0.1 and no
// other record (SRV and NAPTR questions get an empty answer, as from a PBX's zone without them).
// With `srvPort`, SIP over UDP for `host` is at sip.`host`:`srvPort` (an SRV record), and
// sip.`host` has the address 127.0.0.2.
class OneNameServer {
 public:
  explicit OneNameServer(const std::string& host, int srvPort = 0);
  ~OneNameServer();
  OneNameServer(const OneNameServer&) = delete;
  OneNameServer& operator=(const OneNameServer&) = delete;
  bool bound() const { return bound_; }

 private:
  void Serve();

  const std::string name_, srvName_, target_;
  const int srvPort_;
  int fd_ = -1;
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace gwtest
