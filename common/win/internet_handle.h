#pragma once
// WinINet's handle, apart from handles.h so that only its users pull in <wininet.h>.
#include <windows.h>
#include <wininet.h>

#include "common/win/handles.h"

namespace win {

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::InternetCloseHandle(h); }
};
using InternetHandle = UniqueHandle<InternetHandleTraits>;

}  // namespace win
