// A stand-in for the agent with nothing of the product in it, for comparison in the bench and the
// soak: it connects to "Outlook.Application", advises the floor client's sink (the same
// Automation calls as the agent, then one bare Winsock POST per reminder of the given form body,
// by default the worked example's, or none with "nopost") and serves events until it is ended.
//   floor_agent <gateway port> [nopost | <form body>]
#include <windows.h>
#include <ocidl.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/win/com_ptr.h"
#include "tools/bench/bench_floor_client.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const auto port = static_cast<uint16_t>(std::atoi(argv[1]));
  const bool post = !(argc > 2 && std::strcmp(argv[2], "nopost") == 0);
  // The worked example's body, the size of a typical request, unless the caller gives the body the
  // agent sent (a form body has no blanks).
  const char* body = post && argc > 2 ? argv[2]
                                      : "calltime=0&selfdelete=1&firstocc=15&phoneno=5550100&txt=Hi%2c+this+is+Ann+"
                                        "Lee%27s+appointment+reminder+call+program%2e%0aYou+have+an+appointment+"
                                        "coming+up+in+15+minutes%2e%0aThe+appointment+subject+is%3a+Budget+review%0a";
  if (FAILED(OleInitialize(nullptr))) return 2;
  {
    systemtest::FloorClient client(port, body, post);
    static const IID kApplicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    CLSID clsid;
    win::ComPtr<IConnectionPointContainer> container;
    win::ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (FAILED(CLSIDFromProgID(L"Outlook.Application", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IConnectionPointContainer,
                                container.put_void())) ||
        FAILED(container->FindConnectionPoint(kApplicationEvents, point.put())) ||
        FAILED(point->Advise(client.Sink(), &cookie))) {
      std::fprintf(stderr, "floor_agent: cannot connect to Outlook.Application\n");
      return 1;
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  }
  OleUninitialize();
  return 0;
}
