#pragma once
#include <string>

namespace gwtest {

// Runs the calling thread (and what it starts from now on) in a network and mount namespace of
// its own, with loopback up and /etc/resolv.conf naming a server on 127.0.0.1; false where that
// is not allowed (not root).
bool EnterPrivateNetwork(const std::string& dir);

}  // namespace gwtest
