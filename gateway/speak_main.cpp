// talmery-speak VOICE WORDS_PER_MINUTE: reads UTF-8 text on standard input and writes it as
// spoken 8 kHz mono WAV on standard output. The gateway runs one per text (see speech.h). On
// failure it writes the reason instead and exits with 1.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "gateway/speech.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: talmery-speak VOICE WORDS_PER_MINUTE < text > wav\n");
    return 2;
  }
  // Speech is made while a phone rings and may take its time; in a morning rush a hundred of
  // these at once must not keep the gateway from answering requests: they run below it, at the
  // lowest priority (the scheduler weighs each process on its own, so at nice 10 twenty helpers
  // still outweighed an HTTP thread several times over).
  setpriority(PRIO_PROCESS, 0, 19);
  std::string text;
  char buffer[65536];
  for (ssize_t n; (n = read(STDIN_FILENO, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  talmery::Voice voice;
  voice.name = argv[1];
  voice.wordsPerMinute = std::atoi(argv[2]);
  talmery::Pcm speech;
  std::string error;
  if (!talmery::SynthesizeHere(text, voice, speech, error)) {
    std::fputs(error.c_str(), stdout);
    return 1;
  }
  const std::string wav = talmery::EncodeWav(speech);
  return std::fwrite(wav.data(), 1, wav.size(), stdout) == wav.size() && std::fflush(stdout) == 0 ? 0 : 3;
}
