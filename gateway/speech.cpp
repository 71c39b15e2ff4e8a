#include "gateway/speech.h"

#include <espeak-ng/speak_lib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "gateway/call_request.h"
#include "gateway/ear_text.h"
#include "gateway/event_log.h"

namespace talmery {
namespace {

// What the helper writes: one byte, then either the samples (16-bit, this machine's byte order,
// at the telephone rate) up to its end, or the reason it failed. Its exit status tells how the
// speech ended.
constexpr char kSamplesFollow = 'S';
constexpr char kReasonFollows = 'E';
constexpr int kExitWhole = 0, kExitFailed = 1, kExitUsage = 2, kExitReaderGone = 3, kExitCut = 4, kExitEngine = 5;

constexpr size_t kMaxInputBytes = 1 << 20;  // a 64 KB text in UTF-8, and then some
constexpr int kStallSeconds = 60;           // the helper must give something within this time

// ---- In the helper -------------------------------------------------------------------------

bool WriteAll(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(STDOUT_FILENO, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// espeak-ng's callback hands over the samples of each piece (at its own rate) as it makes them.
struct Speaking {
  Resampler* resampler = nullptr;
  std::vector<int16_t> out;
  size_t written = 0, limit = 0;  // limit 0: none
  bool cut = false, gone = false;

  // Writes what the resampler gave, up to the limit; false once no more is wanted.
  bool Flush() {
    if (limit && written + out.size() >= limit) {
      cut = true;  // (speech that ends exactly there counts as cut too: what follows is not known)
      out.resize(limit - written);
    }
    if (!WriteAll(reinterpret_cast<const char*>(out.data()), out.size() * sizeof(int16_t))) gone = true;
    written += out.size();
    out.clear();
    return !gone && !cut;
  }
};

int Collect(short* samples, int count, espeak_EVENT* events) {
  auto* speaking = events ? static_cast<Speaking*>(events->user_data) : nullptr;
  if (!speaking || !samples || count <= 0) return 0;
  speaking->resampler->Push(samples, static_cast<size_t>(count), speaking->out);
  return speaking->Flush() ? 0 : 1;  // 1: stop making speech
}

int Refuse(const std::string& reason) {
  const std::string bytes = std::string(1, kReasonFollows) + reason;
  WriteAll(bytes.data(), bytes.size());
  return kExitFailed;
}

// ---- In the gateway ------------------------------------------------------------------------

class HelperSpeech : public SpeechSource {
 public:
  explicit HelperSpeech(const std::atomic<bool>* cancel) : cancel_(cancel) {}
  ~HelperSpeech() override { End(true); }
  HelperSpeech(const HelperSpeech&) = delete;
  HelperSpeech& operator=(const HelperSpeech&) = delete;

  bool Start(const std::string& text, const Voice& voice, size_t maxSamples, std::string& error);
  size_t Read(int16_t* out, size_t count) override;
  bool Ended(bool& cut, std::string& error) override;

 private:
  // Ends the helper if it still runs (at once with `now`), and reaps it; its exit status, or -1
  // when it was killed.
  int End(bool now);

  const std::atomic<bool>* cancel_;
  std::string program_;
  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  bool header_ = false, failing_ = false, done_ = false;
  std::string reason_;   // what a failing helper wrote
  std::string failure_;  // why the reading stopped early
  unsigned char odd_ = 0;
  bool haveOdd_ = false;  // half a sample from the last read
};

bool HelperSpeech::Start(const std::string& text, const Voice& voice, size_t maxSamples, std::string& error) {
  program_ = SpeakProgram();
  int in[2], out[2];
  // The text goes over a socket, so that a helper gone early gives an error and not SIGPIPE.
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) {
    error = std::string("socketpair: ") + std::strerror(errno);
    return false;
  }
  if (pipe2(out, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    close(in[0]);
    close(in[1]);
    return false;
  }
  std::string path = program_, name = voice.name, rate = std::to_string(voice.wordsPerMinute),
              limit = std::to_string(maxSamples);
  char* argv[] = {path.data(), name.data(), rate.data(), limit.data(), nullptr};
  // posix_spawn, not fork: the child shares the gateway's memory until it execs, so no page
  // tables of a large process with many threads are copied (and flushed on every core) per call.
  // Nothing else of ours goes to the helper: the SIP stack's sockets are not close-on-exec, and a
  // helper that outlives a killed gateway would hold its SIP port against the restarted one.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[1], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[1]);
  close(out[1]);
  if (spawned != 0) {
    error = "cannot run " + program_ + ": " + std::strerror(spawned);
    close(in[0]);
    close(out[0]);
    return false;
  }
  pid_ = pid;
  out_ = out[0];
  // The helper reads all its input before it writes.
  for (size_t sent = 0; sent < text.size();) {
    const ssize_t n = send(in[0], text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // it has gone: its end says why
    sent += static_cast<size_t>(n);
  }
  close(in[0]);
  return true;
}

size_t HelperSpeech::Read(int16_t* out, size_t count) {
  using Clock = std::chrono::steady_clock;
  unsigned char bytes[16384];
  Clock::time_point stallBy = Clock::now() + std::chrono::seconds(kStallSeconds);
  while (!done_ && count > 0) {
    if (cancel_ && *cancel_) {
      failure_ = "stopped";
      done_ = true;
      break;
    }
    pollfd p{out_, POLLIN, 0};
    const int ready = poll(&p, 1, 100);
    if (ready < 0 && errno != EINTR) {
      failure_ = std::string("poll: ") + std::strerror(errno);
      done_ = true;
      break;
    }
    if (ready <= 0) {
      if (Clock::now() < stallBy) continue;
      failure_ = program_ + " gave nothing for " + std::to_string(kStallSeconds) + " s";
      done_ = true;
      break;
    }
    const size_t want = failing_ ? sizeof bytes : std::min(sizeof bytes, count * 2 - (haveOdd_ ? 1 : 0));
    const ssize_t n = read(out_, bytes, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      done_ = true;  // its end: the exit status tells how it went
      break;
    }
    stallBy = Clock::now() + std::chrono::seconds(kStallSeconds);
    size_t at = 0;
    if (!header_) {
      header_ = true;
      const char mark = static_cast<char>(bytes[0]);
      failing_ = mark != kSamplesFollow;
      if (mark != kSamplesFollow && mark != kReasonFollows) reason_ = "its output is not speech";
      at = 1;
    }
    if (failing_) {
      if (reason_.size() < 1024) reason_.append(reinterpret_cast<char*>(bytes) + at, static_cast<size_t>(n) - at);
      continue;
    }
    size_t got = 0;
    for (; at < static_cast<size_t>(n); ++at) {
      if (!haveOdd_) {
        odd_ = bytes[at];
        haveOdd_ = true;
        continue;
      }
      const unsigned char pair[2] = {odd_, bytes[at]};
      std::memcpy(&out[got++], pair, 2);
      haveOdd_ = false;
    }
    if (got > 0) return got;
  }
  return 0;
}

bool HelperSpeech::Ended(bool& cut, std::string& error) {
  cut = false;
  if (!failure_.empty()) {
    End(true);
    error = failure_;
    return false;
  }
  const int status = End(false);
  if (status == kExitWhole || status == kExitCut) {
    cut = status == kExitCut;
    if (!failing_ && header_) return true;
  }
  if (status == 127) error = "cannot run " + program_;
  else if (status == kExitFailed && !reason_.empty()) error = VisibleText(reason_);
  else if (status == kExitEngine) error = "espeak-ng could not speak the text";
  else error = program_ + " failed" + (status >= 0 ? " (exit status " + std::to_string(status) + ")" : "");
  return false;
}

int HelperSpeech::End(bool now) {
  if (out_ >= 0) {
    close(out_);  // a helper still writing gets EPIPE and ends
    out_ = -1;
  }
  if (pid_ <= 0) return status_;
  if (now) kill(pid_, SIGKILL);
  // A helper ends at once when its output closes; one that does not is killed.
  int status = 0;
  pid_t got = 0;
  for (int i = 0; i < 200 && (got = waitpid(pid_, &status, WNOHANG)) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(i < 20 ? 1 : 10));
  if (got == 0) {
    kill(pid_, SIGKILL);
    while ((got = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
  status_ = got > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return status_;
}

bool Executable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

}  // namespace

int SpeakMain(int argc, char** argv) {
  char* end = nullptr;
  const unsigned long long limit = argc == 4 ? std::strtoull(argv[3], &end, 10) : 0;
  if ((argc != 3 && argc != 4) || (argc == 4 && (!*argv[3] || *end))) {
    std::fprintf(stderr, "usage: talmery-speak VOICE WORDS_PER_MINUTE [MAX_SAMPLES] < text > samples\n");
    return kExitUsage;
  }
  signal(SIGPIPE, SIG_IGN);  // a gateway that stops reading gives EPIPE
  std::string text;
  char buffer[65536];
  for (ssize_t n; (n = read(STDIN_FILENO, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxInputBytes) return Refuse("the text is larger than 1 MB");
  }
  // Written for the ear (ear_text.h); control characters never reach the engine: some of them
  // are its commands.
  text = SpeakableText(EarText(text));

  const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
  if (rate <= 0) return Refuse("the espeak-ng synthesiser cannot start (is espeak-ng-data installed?)");
  espeak_SetSynthCallback(Collect);
  if (espeak_SetVoiceByName(argv[1]) != EE_OK) return Refuse(std::string("espeak-ng has no voice \"") + argv[1] + "\"");
  espeak_SetParameter(espeakRATE, std::atoi(argv[2]), 0);

  if (!WriteAll(&kSamplesFollow, 1)) return kExitReaderGone;
  Resampler resampler(rate, kPhoneRate);
  Speaking speaking;
  speaking.resampler = &resampler;
  speaking.limit = static_cast<size_t>(limit);
  const espeak_ERROR result = espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                                           espeakCHARS_UTF8 | espeakENDPAUSE, nullptr, &speaking);
  if (!speaking.gone && !speaking.cut) {
    if (result != EE_OK) return kExitEngine;  // (the samples have begun: the status tells it)
    resampler.Finish(speaking.out);
    speaking.Flush();
  }
  if (speaking.gone) return kExitReaderGone;
  return speaking.cut ? kExitCut : kExitWhole;
}

std::unique_ptr<SpeechSource> StartSpeech(const std::string& utf8Text, const Voice& voice, size_t maxSamples,
                                          const std::atomic<bool>* cancel, std::string& error) {
  auto speech = std::make_unique<HelperSpeech>(cancel);
  if (!speech->Start(utf8Text, voice, maxSamples, error)) return nullptr;
  return speech;
}

bool Synthesize(const std::string& utf8Text, const Voice& voice, Pcm& speech, std::string& error) {
  std::unique_ptr<SpeechSource> source = StartSpeech(utf8Text, voice, 0, nullptr, error);
  if (!source) return false;
  speech.rate = kPhoneRate;
  speech.samples.clear();
  int16_t buffer[4096];
  for (size_t n; (n = source->Read(buffer, 4096)) > 0;) speech.samples.insert(speech.samples.end(), buffer, buffer + n);
  bool cut = false;
  if (!source->Ended(cut, error)) return false;
  if (speech.samples.empty()) {
    error = "espeak-ng produced no sound for the text";
    return false;
  }
  return true;
}

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

}  // namespace talmery
