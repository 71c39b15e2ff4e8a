// loopback-phone: the test telephone as a program, for the demo and the whole-system test.
//   loopback-phone --dir D --sip-port P --control-port C --rtp-port R
//                  [--answer USER] [--busy USER] [--never USER] [--early USER:MS] ...
// Prints "phone ready" once it takes calls, one line per finished call, and runs until SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/phone/loopback_phone.h"

int main(int argc, char** argv) {
  std::string dir;
  phone::PhonePorts ports;
  std::vector<phone::PhoneAccount> accounts;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i], value = argv[i + 1];
    phone::PhoneAccount a;
    a.user = value;
    if (flag == "--dir") dir = value;
    else if (flag == "--sip-port") ports.sip = std::atoi(value.c_str());
    else if (flag == "--control-port") ports.control = std::atoi(value.c_str());
    else if (flag == "--rtp-port") ports.rtpFirst = std::atoi(value.c_str());
    else if (flag == "--answer") accounts.push_back(a);
    else if (flag == "--busy") a.behaviour = phone::Behaviour::Busy, accounts.push_back(a);
    else if (flag == "--never") a.behaviour = phone::Behaviour::Never, accounts.push_back(a);
    else if (flag == "--early") {
      const size_t colon = value.find(':');
      a.user = value.substr(0, colon);
      a.behaviour = phone::Behaviour::EarlyAnswer;
      a.answerAfterMs = colon == std::string::npos ? 1000 : std::atoi(value.c_str() + colon + 1);
      accounts.push_back(a);
    } else {
      std::fprintf(stderr, "loopback-phone: unknown option %s\n", flag.c_str());
      return 2;
    }
  }
  if (dir.empty() || ports.sip <= 0 || ports.control <= 0 || ports.rtpFirst <= 0 || accounts.empty()) {
    std::fprintf(stderr, "usage: loopback-phone --dir D --sip-port P --control-port C --rtp-port R --answer USER ...\n");
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  phone::LoopbackPhone phone(dir, ports, accounts);
  std::string error;
  if (!phone.Start(error)) {
    std::fprintf(stderr, "loopback-phone: %s\n", error.c_str());
    return 1;
  }
  std::printf("phone ready: %s\n", phone.DialTemplate().c_str());
  std::fflush(stdout);
  int closed = 0;
  const timespec slice{0, 100 * 1000 * 1000};
  for (;;) {
    if (sigtimedwait(&stop, nullptr, &slice) > 0) break;
    for (; closed < phone.CallsClosed(); ++closed) {
      std::printf("call %d ended\n", closed + 1);
      std::fflush(stdout);
    }
  }
  phone.Stop();
  return 0;
}
