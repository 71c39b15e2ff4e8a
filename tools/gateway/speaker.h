#pragma once
// Turns a call text into a WAV file with espeak-ng, the way the real gateway would speak it on
// the phone line. Available on Linux only.
#include <string>

namespace gateway {

// Runs espeak-ng (no shell; the text goes through its standard input, so no text can be taken
// for an option) and waits for it. False with a reason on failure.
bool SpeakToWav(const std::string& utf8Text, const std::string& wavPath, std::string& error);

}  // namespace gateway
