#include "gateway/speech.h"

#include <espeak-ng/speak_lib.h>

#include <mutex>
#include <vector>

namespace talmery {
namespace {

std::mutex g_lock;
int g_rate = 0;  // the synthesiser's own sample rate once initialised

int Collect(short* samples, int count, espeak_EVENT* events) {
  if (samples && count > 0 && events) {
    auto* out = static_cast<std::vector<int16_t>*>(events->user_data);
    if (out) out->insert(out->end(), samples, samples + count);
  }
  return 0;
}

}  // namespace

bool Synthesize(const std::string& utf8Text, const Voice& voice, Pcm& speech, std::string& error) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_rate <= 0) {
    g_rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (g_rate <= 0) {
      error = "the espeak-ng synthesiser cannot start (is espeak-ng-data installed?)";
      return false;
    }
    espeak_SetSynthCallback(Collect);
  }
  if (espeak_SetVoiceByName(voice.name.c_str()) != EE_OK) {
    error = "espeak-ng has no voice \"" + voice.name + "\"";
    return false;
  }
  espeak_SetParameter(espeakRATE, voice.wordsPerMinute, 0);
  std::vector<int16_t> samples;
  const espeak_ERROR result = espeak_Synth(utf8Text.c_str(), utf8Text.size() + 1, 0, POS_CHARACTER, 0,
                                           espeakCHARS_UTF8 | espeakENDPAUSE, nullptr, &samples);
  if (result != EE_OK) {
    error = "espeak-ng could not speak the text (error " + std::to_string(static_cast<int>(result)) + ")";
    return false;
  }
  if (samples.empty()) {
    error = "espeak-ng produced no sound for the text";
    return false;
  }
  Pcm raw;
  raw.rate = g_rate;
  raw.samples = std::move(samples);
  speech = Resample(raw, kPhoneRate);
  return true;
}

}  // namespace talmery
