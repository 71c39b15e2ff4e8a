// Shows one message box with the caption and text given on the command line and exits with the
// id of the button that closed it: a stand-in for another process that shows a box.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) return 100;
  return MessageBoxA(nullptr, argv[2], argv[1], MB_OK);
}
