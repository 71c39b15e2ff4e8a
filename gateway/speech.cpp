#include "gateway/speech.h"

#include <espeak-ng/speak_lib.h>
#include <flite/flite.h>
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
#include <set>
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

// The engine's callback hands over the samples of each piece (at its own rate) as it makes them.
struct Speaking {
  Resampler* resampler = nullptr;
  std::unique_ptr<Resampler> owned;  // when the rate is known only with the first samples
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

// flite's English voices, compiled into their own libraries (one register function each).
extern "C" {
cst_voice* register_cmu_us_awb(const char*);
cst_voice* register_cmu_us_kal(const char*);
cst_voice* register_cmu_us_kal16(const char*);
cst_voice* register_cmu_us_rms(const char*);
cst_voice* register_cmu_us_slt(const char*);
}

// Each voice's own pace, in the words a minute of SpokenSeconds (ear_text.h), at flite's own
// speed: speech_rate stretches its durations by this over the rate asked for, so that every
// voice takes as long over a text as max_message_seconds reckons. Measured on reminder texts
// (tools/bench-speech.sh); they differ by a fifth, rms being the slowest.
struct FliteVoice {
  const char* name;
  cst_voice* (*reg)(const char*);
  double wordsPerMinute;
};
constexpr FliteVoice kFliteVoices[] = {{"awb", register_cmu_us_awb, 168},
                                       {"kal", register_cmu_us_kal, 177},
                                       {"kal16", register_cmu_us_kal16, 179},
                                       {"rms", register_cmu_us_rms, 147},
                                       {"slt", register_cmu_us_slt, 167}};

// espeak-ng's voices by the names espeak_SetVoiceByName takes (the last part of each identifier).
std::vector<std::string> EspeakVoices() {
  std::set<std::string> names;
  if (const espeak_VOICE** voices = espeak_ListVoices(nullptr)) {
    for (; *voices; ++voices) {
      if (!(*voices)->identifier) continue;
      std::string id = (*voices)->identifier;
      names.insert(id.substr(id.rfind('/') + 1));
    }
  }
  return {names.begin(), names.end()};
}

int FliteStream(const cst_wave* wave, int start, int size, int, cst_audio_streaming_info* info) {
  auto* speaking = static_cast<Speaking*>(info->userdata);
  if (!speaking->resampler) {
    speaking->owned = std::make_unique<Resampler>(wave->sample_rate, kPhoneRate);
    speaking->resampler = speaking->owned.get();
  }
  if (size > 0) speaking->resampler->Push(wave->samples + start, static_cast<size_t>(size), speaking->out);
  return speaking->Flush() ? CST_AUDIO_STREAM_CONT : CST_AUDIO_STREAM_STOP;
}

// The next piece for flite: up to a sentence's end, or a blank within some hundred characters
// (flite makes a whole utterance before the first sample of it, so the pieces stay short).
std::string NextPiece(const std::string& text, size_t& at) {
  constexpr size_t kMost = 600;
  const size_t begin = at;
  size_t end = begin, blank = std::string::npos;
  for (; end < text.size() && end - begin < kMost; ++end) {
    const char c = text[end];
    if (c == '\n' || ((c == '.' || c == '?' || c == '!' || c == ';') && (end + 1 == text.size() || text[end + 1] == ' '))) {
      ++end;
      at = end;
      return text.substr(begin, end - begin);
    }
    if (c == ' ') blank = end;
  }
  if (end < text.size() && blank != std::string::npos && blank > begin) end = blank + 1;
  at = end;
  return text.substr(begin, end - begin);
}

int SpeakFlite(const std::string& given, const std::string& name, int wordsPerMinute, const std::string& text, size_t limit) {
  cst_voice* voice = nullptr;
  double pace = 0;
  flite_init();
  for (const FliteVoice& v : kFliteVoices)
    if (name == v.name) {
      voice = v.reg(nullptr);
      pace = v.wordsPerMinute;
    }
  if (!voice) {
    espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);  // for its list
    return Refuse(UnknownVoiceMessage(given, EspeakVoices()));
  }
  feat_set_float(voice->features, "duration_stretch", static_cast<float>(pace / wordsPerMinute));
  Speaking speaking;
  speaking.limit = limit;
  cst_audio_streaming_info* info = new_audio_streaming_info();
  info->asc = FliteStream;
  info->userdata = &speaking;
  feat_set(voice->features, "streaming_info", audio_streaming_info_val(info));
  if (!WriteAll(&kSamplesFollow, 1)) return kExitReaderGone;
  for (size_t at = 0; at < text.size() && !speaking.gone && !speaking.cut;) {
    const std::string piece = NextPiece(text, at);
    if (piece.find_first_not_of(" \n") == std::string::npos) continue;
    flite_text_to_speech(piece.c_str(), voice, "none");
  }
  if (!speaking.gone && !speaking.cut && speaking.resampler) {
    speaking.resampler->Finish(speaking.out);
    speaking.Flush();
  }
  if (speaking.gone) return kExitReaderGone;
  return speaking.cut ? kExitCut : kExitWhole;
}

int SpeakEspeak(const std::string& given, const std::string& name, int wordsPerMinute, const std::string& text, size_t limit) {
  const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
  if (rate <= 0) return Refuse("the espeak-ng synthesiser cannot start (is espeak-ng-data installed?)");
  espeak_SetSynthCallback(Collect);
  if (name.empty() || espeak_SetVoiceByName(name.c_str()) != EE_OK)
    return Refuse(UnknownVoiceMessage(given, EspeakVoices()));
  espeak_SetParameter(espeakRATE, wordsPerMinute, 0);

  if (!WriteAll(&kSamplesFollow, 1)) return kExitReaderGone;
  Resampler resampler(rate, kPhoneRate);
  Speaking speaking;
  speaking.resampler = &resampler;
  speaking.limit = limit;
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
      if (reason_.size() < 8192) reason_.append(reinterpret_cast<char*>(bytes) + at, static_cast<size_t>(n) - at);
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
  else if (status == kExitEngine) error = "the speech engine could not speak the text";
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

VoiceName ParseVoiceName(const std::string& voice) {
  VoiceName parsed;
  const size_t colon = voice.find(':');
  const std::string engine = colon == std::string::npos ? "" : voice.substr(0, colon);
  if (engine == "flite") parsed.engine = VoiceName::Flite;
  else if (engine == "espeak-ng") parsed.engine = VoiceName::Espeak;
  else if (colon != std::string::npos) parsed.engine = VoiceName::Unknown;
  parsed.name = colon == std::string::npos || parsed.engine == VoiceName::Unknown ? voice : voice.substr(colon + 1);
  return parsed;
}

std::vector<std::string> FliteVoiceNames() {
  std::vector<std::string> names;
  for (const FliteVoice& v : kFliteVoices) names.push_back(std::string("flite:") + v.name);
  return names;
}

std::string UnknownVoiceMessage(const std::string& voice, const std::vector<std::string>& espeakVoices) {
  std::string message = "voice: \"" + VisibleText(voice) + "\" is not a voice here; the voices are ";
  for (const std::string& name : FliteVoiceNames()) message += name + ", ";
  message += "and espeak-ng:NAME (or NAME alone) for its languages";
  for (size_t i = 0; i < espeakVoices.size(); ++i) message += (i ? ", " : ": ") + espeakVoices[i];
  return message;
}

bool CheckVoice(const std::string& voice, std::string& error) {
  // The helper loads the voice before it speaks a word, so an empty text tells whether it can.
  std::unique_ptr<SpeechSource> source = StartSpeech("", Voice{voice, 150}, 1, nullptr, error);
  if (!source) return false;
  int16_t buffer[256];
  while (source->Read(buffer, 256) > 0) {
  }
  bool cut = false;
  return source->Ended(cut, error);
}

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

  const VoiceName voice = ParseVoiceName(argv[1]);
  const int wordsPerMinute = std::atoi(argv[2]);
  if (voice.engine == VoiceName::Unknown) {
    espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);  // for its list
    return Refuse(UnknownVoiceMessage(argv[1], EspeakVoices()));
  }
  if (voice.engine == VoiceName::Flite) return SpeakFlite(argv[1], voice.name, wordsPerMinute, text, static_cast<size_t>(limit));
  return SpeakEspeak(argv[1], voice.name, wordsPerMinute, text, static_cast<size_t>(limit));
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
    error = "the voice produced no sound for the text";
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
