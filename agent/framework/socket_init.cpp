#include "agent/framework/socket_init.h"

#include <winsock2.h>

namespace {

// Started once; WSACleanup at process end balances it.
struct SocketLibrary {
  bool started = false;
  SocketLibrary() {
    WSADATA data{};
    started = ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
  }
  ~SocketLibrary() {
    if (started) ::WSACleanup();
  }
};

}  // namespace

BOOL AfxSocketInit() {
  static SocketLibrary library;
  return library.started ? TRUE : FALSE;
}
