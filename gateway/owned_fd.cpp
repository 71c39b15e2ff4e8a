#include "gateway/owned_fd.h"

#include <unistd.h>

namespace talmery {

OwnedFd& OwnedFd::operator=(OwnedFd&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) close(fd_);
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

OwnedFd::~OwnedFd() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace talmery
