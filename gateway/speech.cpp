#include "gateway/speech.h"

#include <espeak-ng/speak_lib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
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

bool SynthesizeHere(const std::string& utf8Text, const Voice& voice, Pcm& speech, std::string& error) {
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

namespace {

constexpr int kSpeakSeconds = 300;  // a 64 KB text is about an hour of speech: minutes to make

bool Executable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

}  // namespace

std::string SpeakProgram() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string dir(self, static_cast<size_t>(n));
    dir = dir.substr(0, dir.rfind('/') + 1);
    if (Executable(dir + "talmery-speak")) return dir + "talmery-speak";
  }
  if (Executable(TALMERY_SPEAK_INSTALLED)) return TALMERY_SPEAK_INSTALLED;
  return TALMERY_SPEAK_BUILT;
}

bool Synthesize(const std::string& utf8Text, const Voice& voice, Pcm& speech, std::string& error) {
  const std::string program = SpeakProgram();
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    close(in[0]);
    close(in[1]);
    return false;
  }
  std::string path = program, name = voice.name, rate = std::to_string(voice.wordsPerMinute);
  char* argv[] = {path.data(), name.data(), rate.data(), nullptr};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    // Nothing else of ours: the SIP stack's sockets are not close-on-exec, and a helper that
    // outlives a killed gateway would hold its SIP port against the restarted one.
    if (close_range(3, ~0U, 0) != 0) {
      for (int fd = 3; fd < 65536; ++fd) close(fd);
    }
    execv(argv[0], argv);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (pid < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    close(in[1]);
    close(out[0]);
    return false;
  }
  // The helper reads all its input before it writes: the text goes first, then the sound.
  size_t sent = 0;
  while (sent < utf8Text.size()) {
    const ssize_t n = write(in[1], utf8Text.data() + sent, utf8Text.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  close(in[1]);
  std::string wav;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kSpeakSeconds);
  bool late = false;
  char buffer[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      late = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000))) == 0) continue;
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    wav.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (late) {
    error = "the speech took longer than " + std::to_string(kSpeakSeconds) + " s to make";
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) error = "cannot run " + program;
    else if (WIFEXITED(status) && WEXITSTATUS(status) == 1 && !wav.empty()) error = wav;  // its reason
    else error = program + " failed";
    return false;
  }
  return DecodeWav(wav, speech, error);
}

}  // namespace talmery
