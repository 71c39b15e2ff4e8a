#include "tests/gateway/support/private_network.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "tests/gateway/test_support.h"

namespace gwtest {

bool EnterPrivateNetwork(const std::string& dir) {
  if (geteuid() != 0 || unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) return false;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  WriteFile(dir + "/resolv.conf", "nameserver 127.0.0.1\n");
  if (mount((dir + "/resolv.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) return false;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq lo{};
  std::strcpy(lo.ifr_name, "lo");
  const bool up = ioctl(fd, SIOCGIFFLAGS, &lo) == 0 && ((lo.ifr_flags |= IFF_UP), ioctl(fd, SIOCSIFFLAGS, &lo) == 0);
  close(fd);
  return up;
}

}  // namespace gwtest
