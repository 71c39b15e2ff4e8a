// Holds the Wine session's desktop for a whole test run:
//   harness_desktop_keeper <seconds> <file to create once the desktop is up>
// Wine ends its desktop process about a second after the last program using the desktop has
// ended, and the next program to start has to start it again. Tests run one program after the
// other, so without a holder nearly every test would wait for that start, which under load takes
// seconds. The desktop process also keeps the standard output of the program that started it:
// the test command starts this program with its output detached, so no test's output stays open.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) return 100;
  const unsigned long seconds = std::strtoul(argv[1], nullptr, 10);
  if (seconds == 0 || seconds > 24 * 3600) return 100;
  if (!GetDesktopWindow()) return 1;  // connects this process to the desktop, starting it if needed
  const HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 2;
  CloseHandle(ready);
  Sleep(static_cast<DWORD>(seconds) * 1000);
  return 0;
}
