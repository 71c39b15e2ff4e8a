#pragma once
// Text to telephone speech with the espeak-ng library: UTF-8 text in, 8 kHz mono samples out.
//
// espeak-ng carries state from one utterance to the next within a process (the same text comes
// out a little different each time), and it cannot be restarted in a process. So each text is
// spoken by a fresh helper process, talmery-speak: the same text then always gives the same
// samples (which is what lets a test compare a recorded call with the text), a synthesis that
// runs away is ended by a time limit, and a fault in the synthesiser ends the helper, not the
// gateway.
#include <string>

#include "gateway/audio.h"

namespace talmery {

struct Voice {
  std::string name = "en";
  int wordsPerMinute = 150;
};

// Through talmery-speak; false with a reason when it is missing, fails or takes too long.
bool Synthesize(const std::string& utf8Text, const Voice& voice, Pcm& speech, std::string& error);

// In this process (what talmery-speak runs).
bool SynthesizeHere(const std::string& utf8Text, const Voice& voice, Pcm& speech, std::string& error);

// The helper program: beside the running program, else where it is installed, else in the
// build tree.
std::string SpeakProgram();

}  // namespace talmery
