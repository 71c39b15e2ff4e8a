#pragma once
// An owned Winsock socket, closed exactly once.
#include <winsock2.h>

#include "common/win/handles.h"

namespace win {

struct SocketTraits {
  using Handle = SOCKET;
  static Handle Invalid() { return INVALID_SOCKET; }
  static void Close(Handle s) { closesocket(s); }
};
using Socket = UniqueHandle<SocketTraits>;

}  // namespace win
