// libre-callee <sip port> <first RTP port> <last RTP port> <recordings folder> [<certificate.pem>]:
// answers every call on 127.0.0.1 (see libre_callee.h), over TLS too with a certificate, until
// SIGTERM or SIGINT; prints "ready" once it listens, and at its end its counts and the server name
// a TLS caller asked for, if any.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/phone/libre_callee.h"

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr,
                 "usage: libre-callee <sip port> <first RTP port> <last RTP port> <recordings folder> [<certificate.pem>]\n");
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // before the SIP thread starts: it inherits the mask
  bench::LibreCallee callee("127.0.0.1", std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]), argv[4],
                             argc == 6 ? argv[5] : "");
  std::string error;
  if (!callee.Start(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stop, &signal);
  callee.Stop();
  std::printf("answered %d, closed %d, srtcp %d, unauthenticated %d%s\n", callee.Answered(), callee.Closed(),
              callee.Srtcp(), callee.Unauthenticated(),
              callee.ServerName().empty() ? "" : (", server name " + callee.ServerName()).c_str());
  return 0;
}
