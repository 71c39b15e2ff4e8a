#pragma once
// Text to telephone speech with the espeak-ng library: UTF-8 text in, 8 kHz mono samples out.
// espeak-ng keeps global state, so every synthesis in the process takes one lock.
#include <string>

#include "gateway/audio.h"

namespace talmery {

struct Voice {
  std::string name = "en";
  int wordsPerMinute = 150;
};

// False with a reason when the synthesiser or the voice is not available.
bool Synthesize(const std::string& utf8Text, const Voice& voice, Pcm& speech, std::string& error);

}  // namespace talmery
