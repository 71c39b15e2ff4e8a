#pragma once
// Text to telephone speech with flite's English voices or the espeak-ng library (the languages
// flite lacks): UTF-8 text in, 8 kHz mono samples out.
//
// espeak-ng carries state from one utterance to the next within a process (the same text comes
// out a little different each time), and it cannot be restarted in a process. So each text is
// spoken by a fresh helper process, talmery-speak: the same text then always gives the same
// samples (which is what lets a test compare a recorded call with the text), a helper that
// stalls is ended, and a fault in the synthesiser ends the helper, not the gateway.
//
// The speech streams: the helper writes the samples as espeak-ng makes them and waits while the
// gateway has enough, so neither holds more than some seconds of it however long the text, and
// it stops after the samples it was asked for (what the call can play).
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "gateway/audio.h"
#include "gateway/message_stream.h"

namespace talmery {

struct Voice {
  std::string name = "flite:rms";  // as Config's voice
  int wordsPerMinute = 130;
};

// `voice` as configured: "flite:rms", "espeak-ng:de", or a bare espeak-ng name ("en").
struct VoiceName {
  enum Engine { Espeak, Flite, Unknown } engine = Espeak;
  std::string name;  // within the engine
};
VoiceName ParseVoiceName(const std::string& voice);

// flite's voices as `voice` names them ("flite:rms", ...).
std::vector<std::string> FliteVoiceNames();

// Why `voice` cannot be used, with the voices there are (espeak-ng's by name).
std::string UnknownVoiceMessage(const std::string& voice, const std::vector<std::string>& espeakVoices);

// Whether the helper can speak with `voice` (false with UnknownVoiceMessage's reason, or why
// the helper cannot run): the gateway checks it before it starts.
bool CheckVoice(const std::string& voice, std::string& error);

// The speech of `utf8Text` from a talmery-speak helper, read as it is made, cut after
// `maxSamples` samples (0: all of it). When `cancel` (may be null) is set, a read that waits for
// the helper gives up and the helper is ended. Null with a reason when the helper cannot start.
std::unique_ptr<SpeechSource> StartSpeech(const std::string& utf8Text, const Voice& voice, size_t maxSamples,
                                          const std::atomic<bool>* cancel, std::string& error);

// All of it at once, through the helper (short texts: tests and tools); false with a reason.
bool Synthesize(const std::string& utf8Text, const Voice& voice, Pcm& speech, std::string& error);

// talmery-speak VOICE WORDS_PER_MINUTE [MAX_SAMPLES]: the helper's main, in this process.
int SpeakMain(int argc, char** argv);

// The helper program: beside the running program, else where it is installed, else in the
// build tree.
std::string SpeakProgram();

}  // namespace talmery
