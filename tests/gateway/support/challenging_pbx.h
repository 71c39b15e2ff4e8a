#pragma once
// A PBX on UDP that asks every INVITE and REGISTER for digest authentication (401, RFC 2617
// without qop) and checks the answer against `password`. It ends a call with the status its user
// part is given (e.g. 503 for 5550503) and takes every registration, noting its expiry. It
// counts the INVITEs whose digest was right and wrong. With an empty password it asks for
// nothing: every registration is taken for 600 s, every INVITE ended by its status at once.
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace gwtest {

class ChallengingPbx {
 public:
  ChallengingPbx(int port, std::string password, std::map<std::string, std::string> finals,
                 const char* address = "127.0.0.1");
  ~ChallengingPbx();
  ChallengingPbx(const ChallengingPbx&) = delete;
  ChallengingPbx& operator=(const ChallengingPbx&) = delete;
  bool bound() const { return bound_; }
  int Right() { return right_; }
  int Wrong() { return wrong_; }
  int RefusedRegisters() { return refusedRegisters_; }
  // The Route headers of the INVITEs and REGISTERs received.
  std::vector<std::string> Routes() {
    std::lock_guard<std::mutex> lock(mu_);
    return routes_;
  }
  // The expiry of each authenticated REGISTER's contact, in order.
  std::vector<std::string> Registrations() {
    std::lock_guard<std::mutex> lock(mu_);
    return registrations_;
  }

 private:
  void Serve();

  const std::string password_;
  std::map<std::string, std::string> finals_;
  int fd_ = -1;
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> right_{0}, wrong_{0}, refusedRegisters_{0};
  std::mutex mu_;
  std::vector<std::string> registrations_, routes_;
  std::thread thread_;
};

}  // namespace gwtest
