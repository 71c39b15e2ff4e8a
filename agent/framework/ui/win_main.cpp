// The program entry of a framework application; only linked when the program has no main().
#include "agent/framework/ui/win_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return fw::RunApplication(instance);
}
