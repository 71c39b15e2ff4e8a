// Stands in for a running agent in the tests of stop-agents: does nothing for a minute, unless
// ended before.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  Sleep(60000);
  return 7;
}
