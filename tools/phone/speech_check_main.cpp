// speech-check: does a recorded call carry a text? The text is spoken as the gateway speaks
// it (same synthesiser, voice and rate) and looked for in the recording.
//   speech-check --text FILE --recording WAV [--repeat N] [--voice V] [--rate WPM]
// Exit code 0: it does; 1: it does not; 2: bad arguments or unreadable files.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "gateway/speech.h"
#include "tools/phone/speech_match.h"

int main(int argc, char** argv) {
  std::string textPath, recordingPath;
  talmery::Voice voice;
  int repeat = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i], value = argv[i + 1];
    if (flag == "--text") textPath = value;
    else if (flag == "--recording") recordingPath = value;
    else if (flag == "--repeat") repeat = std::atoi(value.c_str());
    else if (flag == "--voice") voice.name = value;
    else if (flag == "--rate") voice.wordsPerMinute = std::atoi(value.c_str());
    else {
      std::fprintf(stderr, "speech-check: unknown option %s\n", flag.c_str());
      return 2;
    }
  }
  if (textPath.empty() || recordingPath.empty() || repeat < 1) {
    std::fprintf(stderr, "usage: speech-check --text FILE --recording WAV [--repeat N] [--voice V] [--rate WPM]\n");
    return 2;
  }
  std::ifstream in(textPath, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "speech-check: cannot read %s\n", textPath.c_str());
    return 2;
  }
  std::ostringstream text;
  text << in.rdbuf();
  talmery::Pcm speech, recording;
  std::string error;
  if (!talmery::Synthesize(text.str(), voice, speech, error) || !talmery::ReadWavFile(recordingPath, recording, error)) {
    std::fprintf(stderr, "speech-check: %s\n", error.c_str());
    return 2;
  }
  std::string report;
  const bool ok = phone::RecordingCarries(recording, speech, repeat, report);
  std::fputs(report.c_str(), stdout);
  return ok ? 0 : 1;
}
