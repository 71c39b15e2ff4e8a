#pragma once
// A descriptor, closed with its owner.

namespace talmery {

class OwnedFd {
 public:
  explicit OwnedFd(int fd = -1) : fd_(fd) {}
  OwnedFd(OwnedFd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  OwnedFd& operator=(OwnedFd&& o) noexcept;
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd();
  int get() const { return fd_; }
  // Gives the descriptor up to a new owner (it is no longer closed here).
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace talmery
