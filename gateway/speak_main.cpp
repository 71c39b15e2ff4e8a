// talmery-speak VOICE WORDS_PER_MINUTE [MAX_SAMPLES]: reads UTF-8 text on standard input and
// writes it as spoken 8 kHz samples on standard output while it is made. The gateway runs one per
// text (see speech.h, which also holds the format).
#include <sys/resource.h>

#include "gateway/speech.h"

int main(int argc, char** argv) {
  // Speech is made while a phone rings and may take its time; in a morning rush a hundred of
  // these at once must not keep the gateway from answering requests: they run below it, at the
  // lowest priority (the scheduler weighs each process on its own, so at nice 10 twenty helpers
  // still outweighed an HTTP thread several times over).
  setpriority(PRIO_PROCESS, 0, 19);
  return talmery::SpeakMain(argc, argv);
}
