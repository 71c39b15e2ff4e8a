#pragma once
// WinINet's handle, for the tests and measurements that post through WinINet as a plain
// client would (the product speaks Winsock): apart from handles.h, so that only they pull in
// <wininet.h>.
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
