#include "tests/gateway/callee_recordings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "gateway/audio.h"
#include "gateway/speech.h"

namespace talmery {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRate = kPhoneRate;

enum class Noise { None, White, Pink, Hum, Comfort };
enum class Codec { Linear, Ulaw, Alaw };

struct Part {
  enum Kind { Say, Pause, Tone } kind = Pause;
  std::string voice, text;
  int ms = 0, hz = 0;  // for Say: words per minute
};

// One recording as it is described: what is said and sounded in turn, and the line.
struct Scene {
  std::string name;
  bool machine = false;
  std::vector<Part> parts;
  double speechDb = -20;  // the level of the speech (dBFS, over its sounding frames)
  Noise noise = Noise::None;
  double noiseDb = -60;
  Codec codec = Codec::Linear;
  int lossEvery = 0;  // every this many packets of 20 ms one is lost (0: none)

  Scene& Say(const std::string& voice, const std::string& text, int wordsPerMinute = 150) {
    parts.push_back({Part::Say, voice, text, wordsPerMinute, 0});
    return *this;
  }
  Scene& Pause(int ms) {
    parts.push_back({Part::Pause, "", "", ms, 0});
    return *this;
  }
  Scene& Tone(int hz, int ms) {
    parts.push_back({Part::Tone, "", "", ms, hz});
    return *this;
  }
  Scene& Line(Noise kind, double db, Codec how = Codec::Ulaw) {
    noise = kind;
    noiseDb = db;
    codec = how;
    return *this;
  }
  Scene& Level(double db) {
    speechDb = db;
    return *this;
  }
  Scene& Loss(int every) {
    lossEvery = every;
    return *this;
  }
};

// A fixed sequence of numbers (the set must be the same on every machine and every run).
class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed * 2654435761u + 1) {}
  double Uniform() {  // [0, 1)
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) / 16777216.0;
  }
  double Gauss() {  // about N(0, 1): a sum of uniforms
    double sum = 0;
    for (int i = 0; i < 6; ++i) sum += Uniform();
    return (sum - 3.0) * std::sqrt(2.0);
  }

 private:
  uint32_t state_;
};

int16_t Saturate(double v) { return static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0))); }

// The 10 ms frames of clean speech that sound: within 30 dB of its loudest frame.
std::vector<bool> SoundingFrames(const std::vector<int16_t>& samples, double* activeRms) {
  const size_t frame = kRate / 100, frames = samples.size() / frame;
  std::vector<double> energy(frames);
  double most = 0;
  for (size_t f = 0; f < frames; ++f) {
    double sum = 0;
    for (size_t i = 0; i < frame; ++i) sum += double(samples[f * frame + i]) * samples[f * frame + i];
    energy[f] = sum / frame;
    most = std::max(most, energy[f]);
  }
  std::vector<bool> sounding(frames);
  double sum = 0;
  size_t count = 0;
  for (size_t f = 0; f < frames; ++f) {
    sounding[f] = energy[f] > most / 1000 && energy[f] > 4.0;
    if (sounding[f]) {
      sum += energy[f];
      ++count;
    }
  }
  if (activeRms) *activeRms = count ? std::sqrt(sum / count) : 0;
  return sounding;
}

// The speech without the silence the voices put before and after it (20 ms kept at each end),
// so that the pauses of a scene are the pauses it names.
std::vector<int16_t> Trimmed(const std::vector<int16_t>& samples) {
  const std::vector<bool> sounding = SoundingFrames(samples, nullptr);
  const auto first = std::find(sounding.begin(), sounding.end(), true);
  if (first == sounding.end()) return samples;
  const auto last = std::find(sounding.rbegin(), sounding.rend(), true);
  const size_t frame = kRate / 100;
  const size_t begin = size_t(std::max<long>(0, long(first - sounding.begin()) - 2)) * frame;
  const size_t end = std::min(samples.size(), (sounding.size() - size_t(last - sounding.rbegin()) + 2) * frame);
  return std::vector<int16_t>(samples.begin() + long(begin), samples.begin() + long(end));
}

void AddNoise(std::vector<double>& line, Noise kind, double db, uint32_t seed) {
  if (kind == Noise::None) return;
  Random random(seed);
  const double rms = 32768.0 * std::pow(10.0, db / 20);
  std::vector<double> noise(line.size());
  double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
  double level = 1;
  for (size_t i = 0; i < line.size(); ++i) {
    switch (kind) {
      case Noise::White:
        noise[i] = random.Gauss();
        break;
      case Noise::Pink: {  // white through a set of first-order filters: about -3 dB per octave
        const double w = random.Gauss();
        b0 = 0.99886 * b0 + w * 0.0555179;
        b1 = 0.99332 * b1 + w * 0.0750759;
        b2 = 0.96900 * b2 + w * 0.1538520;
        b3 = 0.86650 * b3 + w * 0.3104856;
        b4 = 0.55000 * b4 + w * 0.5329522;
        b5 = -0.7616 * b5 - w * 0.0168980;
        noise[i] = b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362;
        b6 = w * 0.115926;
        break;
      }
      case Noise::Hum: {  // mains at 50 Hz with its odd harmonics, and a little hiss
        const double t = double(i) / kRate;
        noise[i] = std::sin(2 * kPi * 50 * t) + 0.5 * std::sin(2 * kPi * 150 * t + 0.3) +
                   0.3 * std::sin(2 * kPi * 250 * t + 1.1) + 0.15 * std::sin(2 * kPi * 350 * t + 2.0) +
                   0.1 * random.Gauss();
        break;
      }
      case Noise::Comfort:  // a quiet noise whose level is updated every 100 ms, as a PBX's
        if (i % (kRate / 10) == 0) level = 0.7 + 0.6 * random.Uniform();
        noise[i] = level * random.Gauss();
        break;
      case Noise::None:
        break;
    }
  }
  double sum = 0;
  for (double v : noise) sum += v * v;
  const double scale = sum > 0 ? rms / std::sqrt(sum / noise.size()) : 0;
  for (size_t i = 0; i < line.size(); ++i) line[i] += noise[i] * scale;
}

// Spoken texts by voice, pace and text.
using Said = std::pair<std::string, std::string>;
using Voices = std::map<Said, std::vector<int16_t>>;

Said Key(const Part& part) { return {part.voice + " " + std::to_string(part.ms), part.text}; }

// Where spoken texts are kept between runs (the build tree; none when not set). The helper gives
// the same samples for the same text, voice and pace every time, so a kept text is what the
// helper would say again; the key holds the helper's size and time, so a rebuilt helper speaks
// anew.
std::string KeptSpeechPath(const Part& part) {
#ifdef TALMERY_SPEECH_KEPT
  struct stat helper {};
  if (stat(SpeakProgram().c_str(), &helper) != 0) return "";
  const std::string key = part.voice + "\n" + std::to_string(part.ms) + "\n" + part.text + "\n" +
                          std::to_string(helper.st_size) + "\n" + std::to_string(helper.st_mtime);
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.wav", static_cast<unsigned long long>(hash));
  return std::string(TALMERY_SPEECH_KEPT) + "/" + name;
#else
  (void)part;
  return "";
#endif
}

bool ReadKept(const std::string& path, std::vector<int16_t>& samples) {
  Pcm pcm;
  std::string error;
  if (path.empty() || !ReadWavFile(path, pcm, error) || pcm.rate != kRate || pcm.samples.empty()) return false;
  samples = std::move(pcm.samples);
  return true;
}

// Under a name of this process first, so that two test processes keeping the same text at once
// leave one whole file.
void Keep(const std::string& path, const std::vector<int16_t>& samples) {
  if (path.empty()) return;
  mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
  Pcm pcm;
  pcm.samples = samples;
  const std::string temp = path + "." + std::to_string(getpid()) + ".part";
  {
    std::ofstream out(temp, std::ios::binary);
    const std::string bytes = EncodeWav(pcm);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::remove(temp.c_str());
      return;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) std::remove(temp.c_str());
}

// Each text of the set, once, by two helpers at a time.
bool SpeakAll(const std::vector<Scene>& scenes, Voices& spoken, std::string& error) {
  std::vector<Part> wanted;
  for (const Scene& scene : scenes)
    for (const Part& part : scene.parts)
      if (part.kind == Part::Say && spoken[Key(part)].empty() &&
          std::none_of(wanted.begin(), wanted.end(), [&](const Part& p) { return Key(p) == Key(part); })) {
        wanted.push_back(part);
      }
  std::mutex lock;
  size_t next = 0;
  std::string failure;
  auto work = [&] {
    for (;;) {
      Part job;
      {
        std::lock_guard<std::mutex> hold(lock);
        if (next == wanted.size() || !failure.empty()) return;
        job = wanted[next++];
      }
      const std::string kept = KeptSpeechPath(job);
      Pcm pcm;
      std::string why;
      bool ok = ReadKept(kept, pcm.samples);
      if (!ok) {
        Voice voice;
        voice.name = job.voice;
        voice.wordsPerMinute = job.ms;
        ok = Synthesize(job.text, voice, pcm, why);
        if (ok) Keep(kept, pcm.samples);
      }
      std::lock_guard<std::mutex> hold(lock);
      if (!ok) {
        failure = job.voice + " \"" + job.text + "\": " + why;
      } else {
        spoken[Key(job)] = Trimmed(pcm.samples);
      }
    }
  };
  std::thread other(work);
  work();
  other.join();
  error = failure;
  return failure.empty();
}

CalleeRecording Render(const Scene& scene, const Voices& spoken, uint32_t seed) {
  CalleeRecording out;
  out.name = scene.name;
  out.machine = scene.machine;
  std::vector<double> line;
  const double speechRms = 32768.0 * std::pow(10.0, scene.speechDb / 20);
  const size_t frame = kRate / 100;
  std::vector<bool> sounding;  // per 10 ms frame of the line: the callee's speech
  for (const Part& part : scene.parts) {
    const size_t at = line.size();
    if (part.kind == Part::Pause) {
      line.resize(at + size_t(part.ms) * kRate / 1000);
    } else if (part.kind == Part::Tone) {
      const size_t n = size_t(part.ms) * kRate / 1000;
      const double amplitude = speechRms * std::sqrt(2.0) * 0.7;
      for (size_t i = 0; i < n; ++i) {
        // 5 ms ramps at both ends, as a mailbox's beep has.
        const double ramp = std::min({1.0, double(i) / 40, double(n - i) / 40});
        line.push_back(amplitude * ramp * std::sin(2 * kPi * part.hz * double(i) / kRate));
      }
      out.toneBeginMs = static_cast<long long>(at) * 1000 / kRate;
      out.toneEndMs = static_cast<long long>(line.size()) * 1000 / kRate;
    } else {
      const std::vector<int16_t>& clip = spoken.at(Key(part));
      double rms = 0;
      const std::vector<bool> frames = SoundingFrames(clip, &rms);
      const double gain = rms > 0 ? speechRms / rms : 0;
      // Whole frames on the line's grid, so that the frames of the clip are the line's.
      line.resize(at + (frame - at % frame) % frame);
      const size_t start = line.size();
      for (int16_t s : clip) line.push_back(s * gain);
      sounding.resize(start / frame, false);
      sounding.insert(sounding.end(), frames.begin(), frames.end());
    }
  }
  line.resize(line.size() + (frame - line.size() % frame) % frame);
  sounding.resize(line.size() / frame, false);

  // The spans of speech: sounding frames with gaps under 100 ms joined.
  for (size_t f = 0; f < sounding.size(); ++f) {
    if (!sounding[f]) continue;
    const long long begin = static_cast<long long>(f) * 10, end = begin + 10;
    if (!out.speech.empty() && begin - out.speech.back().endMs < 100) {
      out.speech.back().endMs = end;
    } else {
      out.speech.push_back({begin, end});
    }
  }
  const long long lastSpeech = out.speech.empty() ? -1 : out.speech.back().endMs;
  if (scene.machine) {
    out.greetingEndMs = lastSpeech;
  } else {
    out.lastWordEndMs = lastSpeech;
  }

  AddNoise(line, scene.noise, scene.noiseDb, seed);
  out.samples.reserve(line.size());
  for (double v : line) {
    int16_t s = Saturate(v);
    if (scene.codec == Codec::Ulaw) s = UlawToLinear(LinearToUlaw(s));
    if (scene.codec == Codec::Alaw) s = AlawToLinear(LinearToAlaw(s));
    out.samples.push_back(s);
  }
  if (scene.lossEvery > 0) {
    const size_t packet = kRate / 50;
    for (size_t p = size_t(scene.lossEvery) / 2; p * packet < out.samples.size(); p += size_t(scene.lossEvery))
      std::fill(out.samples.begin() + long(p * packet),
                out.samples.begin() + long(std::min(out.samples.size(), (p + 1) * packet)), int16_t(0));
  }
  return out;
}

// The greetings and answers of the set.
const char kAlexShort[] = "Hi, you've reached Alex Morgan. Please leave a message after the tone.";
const char kDanaShort[] = "This is Dana. I can't come to the phone. Leave a message.";
const char kNumberShort[] = "You have reached five five five, zero one three four. Please leave a message.";
const char kAlexLong1[] = "Hi, you've reached Alex Morgan.";
const char kAlexLong2[] = "I can't take your call right now.";
const char kAlexLong3[] =
    "Please leave a message after the tone, with your name and your number, and I will call you back as soon as I can.";
const char kAlexLong4[] = "Thank you, and have a great day.";
const char kCarrier1[] = "The person you are calling is not available.";
const char kCarrier2[] = "Please leave a message after the tone.";
const char kCarrier3[] = "When you have finished recording, you may hang up, or press pound for more options.";
const char kOffice1[] = "Thank you for calling Northwind Dental.";
const char kOffice2[] = "Our office is closed. Our hours are Monday to Friday, from eight to five.";
const char kOffice3[] =
    "Please leave your name, your number and a short message, and we will return your call on the next business day.";
const char kSentence[] = "Hello, this is Sam speaking, who is calling?";

std::vector<Scene> Scenes() {
  std::vector<Scene> s;
  auto add = [&s](const std::string& name, bool machine) -> Scene& {
    s.push_back(Scene{});
    s.back().name = name;
    s.back().machine = machine;
    return s.back();
  };
  // Mailboxes with a short greeting.
  add("short greeting, tone 1000 Hz", true).Pause(700).Say("flite:kal", kAlexShort).Pause(400).Tone(1000, 500).Pause(4000)
      .Line(Noise::White, -55);
  add("short greeting, tone 440 Hz late", true).Pause(400).Say("en", kDanaShort).Pause(1500).Tone(440, 1000).Pause(4000)
      .Line(Noise::Pink, -50);
  add("short greeting, tone 1950 Hz", true).Pause(900).Say("flite:slt", kNumberShort).Pause(700).Tone(1950, 300)
      .Pause(4000).Line(Noise::Comfort, -60, Codec::Alaw);
  add("short greeting, tone 850 Hz long", true).Pause(500).Say("flite:kal16", kAlexShort).Pause(1000).Tone(850, 1500)
      .Pause(4000).Line(Noise::Hum, -45);
  add("short greeting, no tone", true).Pause(600).Say("flite:rms", kDanaShort).Pause(5000).Line(Noise::White, -50);
  add("short greeting, no tone, noisy", true).Pause(600).Say("flite:kal", kNumberShort).Pause(5000)
      .Line(Noise::Pink, -35);
  add("short greeting, tone 1400 Hz, quiet speech", true).Pause(300).Say("flite:awb", kAlexShort).Pause(600)
      .Tone(1400, 700).Pause(4000).Level(-34).Line(Noise::White, -52);
  add("short greeting, tone, lost packets", true).Pause(700).Say("en", kAlexShort).Pause(500).Tone(1000, 800)
      .Pause(4000).Line(Noise::Comfort, -55).Loss(25);
  add("short greeting, tone 600 Hz soon after", true).Pause(500).Say("flite:kal16", "Dana here, leave a message.")
      .Pause(400).Tone(600, 400).Pause(4000).Line(Noise::White, -52);
  add("short greeting, tone 1200 Hz, noisy", true).Pause(800).Say("en", kAlexShort).Pause(800).Tone(1200, 600)
      .Pause(4000).Line(Noise::White, -35);
  add("short greeting, no tone, awb", true).Pause(500).Say("flite:awb", "Hi, this is Jordan. Please leave me a message.")
      .Pause(6000).Line(Noise::Comfort, -56);
  // Mailboxes with a long greeting, in sentences with pauses between them.
  add("long greeting, tone 1000 Hz", true).Pause(800).Say("flite:kal", kAlexLong1).Pause(500).Say("flite:kal", kAlexLong2)
      .Pause(600).Say("flite:kal", kAlexLong3).Pause(400).Say("flite:kal", kAlexLong4).Pause(700).Tone(1000, 1000)
      .Pause(4000).Line(Noise::White, -55);
  add("carrier, tone 440 Hz", true).Pause(300).Say("en", kCarrier1).Pause(400).Say("en", kCarrier2).Pause(600)
      .Say("en", kCarrier3).Pause(1200).Tone(440, 600).Pause(4000).Line(Noise::Comfort, -58);
  add("carrier, no tone", true).Pause(300).Say("flite:kal16", kCarrier1).Pause(400).Say("flite:kal16", kCarrier2)
      .Pause(500).Say("flite:kal16", kCarrier3).Pause(6000).Line(Noise::Pink, -48, Codec::Alaw);
  add("office, tone 1400 Hz", true).Pause(600).Say("flite:kal", kOffice1).Pause(600).Say("flite:kal", kOffice2)
      .Pause(500).Say("flite:kal", kOffice3).Pause(900).Tone(1400, 400).Pause(4000).Line(Noise::Hum, -42);
  add("office, no tone, noisy", true).Pause(600).Say("en", kOffice1).Pause(600).Say("en", kOffice2).Pause(500)
      .Say("en", kOffice3).Pause(6000).Line(Noise::White, -38);
  add("long greeting, tone 700 Hz, lost packets", true).Pause(500).Say("flite:kal16", kAlexLong1).Pause(400)
      .Say("flite:kal16", kAlexLong2).Pause(500).Say("flite:kal16", kAlexLong3).Pause(1000).Tone(700, 1200).Pause(4000)
      .Line(Noise::Pink, -52).Loss(30);
  add("carrier, tone 1950 Hz, quiet speech", true).Pause(400).Say("flite:kal", kCarrier1).Pause(500)
      .Say("flite:kal", kCarrier2).Pause(600).Say("flite:kal", kCarrier3).Pause(300).Tone(1950, 500).Pause(4000)
      .Level(-33).Line(Noise::Comfort, -52);
  add("long greeting, no tone, clean", true).Pause(700).Say("en", kAlexLong1).Pause(500).Say("en", kAlexLong2)
      .Pause(500).Say("en", kAlexLong3).Pause(6000).Line(Noise::None, 0, Codec::Linear);

  // Persons: a word, a sentence, a word twice, nothing.
  add("hello, kal", false).Pause(400).Say("flite:kal", "Hello?").Pause(5000).Line(Noise::White, -55);
  add("hello, slt", false).Pause(800).Say("flite:slt", "Hello?").Pause(5000).Line(Noise::Comfort, -58);
  add("hello, awb, noisy", false).Pause(600).Say("flite:awb", "Hello?").Pause(5000).Line(Noise::Pink, -36);
  add("hello, en", false).Pause(300).Say("en", "Hello?").Pause(5000).Line(Noise::Hum, -45, Codec::Alaw);
  add("yes, rms", false).Pause(500).Say("flite:rms", "Yes?").Pause(5000).Line(Noise::White, -50);
  add("yes, kal16, quiet", false).Pause(1200).Say("flite:kal16", "Yes?").Pause(5000).Level(-36).Line(Noise::White, -54);
  add("name, kal", false).Pause(500).Say("flite:kal", "Sam Miller.").Pause(5000).Line(Noise::Comfort, -55);
  add("greeting, slt", false).Pause(500).Say("flite:slt", "Good morning, Dana speaking.", 180).Pause(5000)
      .Line(Noise::Pink, -50);
  add("sentence, kal", false).Pause(500).Say("flite:kal", kSentence, 180).Pause(5000).Line(Noise::White, -52);
  add("sentence, en", false).Pause(400).Say("en", kSentence, 180).Pause(5000).Line(Noise::Comfort, -56, Codec::Alaw);
  add("sentence, rms, noisy", false).Pause(700).Say("flite:rms", kSentence, 180).Pause(5000).Line(Noise::Hum, -38);
  add("sentence, kal16, lost packets", false).Pause(600).Say("flite:kal16", kSentence, 180).Pause(5000)
      .Line(Noise::White, -50).Loss(20);
  add("hello, wait, hello again", false).Pause(500).Say("flite:kal", "Hello?").Pause(2500).Say("flite:kal", "Hello?")
      .Pause(5000).Line(Noise::White, -55);
  add("hello, short wait, hello again", false).Pause(500).Say("flite:slt", "Hello?").Pause(600)
      .Say("flite:slt", "Hello?").Pause(5000).Line(Noise::Pink, -52);
  add("hello, wait, who is this", false).Pause(400).Say("flite:rms", "Hello?").Pause(1200)
      .Say("flite:rms", "Hello, who is this?", 180).Pause(5000).Line(Noise::Pink, -50);
  add("yes hello, awb", false).Pause(700).Say("flite:awb", "Yes, hello?", 170).Pause(5000).Line(Noise::Hum, -48);
  add("residence, slt", false).Pause(600).Say("flite:slt", "Hello, Morgan residence.", 170).Pause(5000)
      .Line(Noise::White, -48, Codec::Alaw);
  add("silence", false).Pause(8000).Line(Noise::None, 0, Codec::Ulaw);
  add("white noise only", false).Pause(8000).Line(Noise::White, -40);
  add("hum only", false).Pause(8000).Line(Noise::Hum, -35);
  add("comfort noise only", false).Pause(8000).Line(Noise::Comfort, -55, Codec::Alaw);
  add("loud comfort noise only", false).Pause(8000).Line(Noise::Comfort, -42);
  add("pink noise only", false).Pause(8000).Line(Noise::Pink, -38, Codec::Alaw);
  add("hello, late", false).Pause(1800).Say("flite:awb", "Hello?").Pause(5000).Line(Noise::White, -50);
  add("hello, lost packets", false).Pause(400).Say("en", "Yes, hello?").Pause(5000).Line(Noise::Comfort, -52)
      .Loss(15);
  return s;
}

}  // namespace

bool MakeCalleeRecordings(std::vector<CalleeRecording>& recordings, std::string& error) {
  const std::vector<Scene> scenes = Scenes();
  // The texts are spoken once per process: the test and the benchmark may ask more than once.
  static std::mutex lock;
  static Voices spoken;
  std::lock_guard<std::mutex> hold(lock);
  if (!SpeakAll(scenes, spoken, error)) return false;
  recordings.clear();
  for (size_t i = 0; i < scenes.size(); ++i) recordings.push_back(Render(scenes[i], spoken, uint32_t(i + 1)));
  return true;
}

long long LastSpeechEndBefore(const CalleeRecording& recording, long long ms) {
  long long end = -1;
  for (const Span& span : recording.speech)
    if (span.endMs <= ms) end = span.endMs;
  return end;
}

bool SoundingAt(const CalleeRecording& recording, long long ms) {
  for (const Span& span : recording.speech)
    if (ms > span.beginMs && ms < span.endMs) return true;
  return recording.toneBeginMs >= 0 && ms > recording.toneBeginMs && ms < recording.toneEndMs;
}

}  // namespace talmery
