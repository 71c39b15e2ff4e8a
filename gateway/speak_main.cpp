// talmery-speak VOICE WORDS_PER_MINUTE [MAX_SAMPLES]: reads UTF-8 text on standard input and
// writes it as spoken 8 kHz samples on standard output while it is made. The gateway runs one per
// text (see speech.h, which also holds the format).
#include "gateway/speech.h"

int main(int argc, char** argv) { return talmery::SpeakMain(argc, argv); }
