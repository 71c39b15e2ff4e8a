#pragma once
// What the callee's side of an answered call says, heard as it arrives: whether a person or a
// machine answered, and when the line may speak without talking over them. Pure: the line feeds
// 8 kHz linear samples in the order they were due, one packet at a time, with silence for what
// did not come, so that the listener's time is the call's time since the answer.
#include <cstddef>
#include <cstdint>

namespace talmery {

enum class Answerer { Deciding, Person, Machine, NotSure };

// The timings of the decision (the gateway's listen_* settings).
struct ListenTimings {
  int initialSilenceMs = 2500;  // nothing said this long after the answer: a person who waits
  int greetingMs = 3000;        // voice longer than this before a pause: a machine's greeting
  int afterGreetingMs = 800;    // a pause this long after a shorter greeting: the person's turn
  int minWordMs = 100;          // shorter sounds are clicks and noise, not words
  int maxWordMs = 5000;         // one sound longer than this: a machine (music, a long sentence)
  int maxWords = 5;             // more words than this before a pause: a machine
  int totalMs = 5000;           // the decision is made by then at the latest (not sure)
  int machineSilenceMs = 2000;  // a machine's greeting is over after this much silence and no tone
  int greetingWaitMs = 30000;   // a machine's greeting is waited out this long at most
};

class CalleeListener {
 public:
  explicit CalleeListener(const ListenTimings& timings = {});

  // The next samples of the callee's audio (decoded G.711, 8 kHz); null `samples`: `count`
  // samples of silence (packets that did not come). Once the line is cleared the audio is only
  // counted (HeardMs), no longer analysed.
  void Feed(const int16_t* samples, size_t count);

  // Who answered: Deciding until the audio tells.
  Answerer Who() const;
  // The line may begin its message now and from now on: a person (or not sure) has fallen silent
  // or said nothing; a machine's greeting is over (its tone has ended, silence followed the
  // greeting, or greetingWaitMs passed).
  bool ClearToSpeak() const;
  // For a machine: a mailbox's tone was heard and had ended when the line was cleared to speak.
  bool ToneHeard() const;
  // For a machine: the line was cleared only because greetingWaitMs passed.
  bool GreetingTimedOut() const;

  // The audio fed so far, the moment the line was cleared (-1 before), the end of the callee's
  // last word before that (-1 when none was said); milliseconds since the answer.
  long long HeardMs() const;
  long long ClearedAtMs() const;
  long long LastWordEndMs() const;

 private:
  // The analysis's state, held by value: nothing is allocated per packet on the media thread.
  static constexpr int kFrame = 80;     // 10 ms: the step of every decision
  static constexpr int kWindow = 256;   // 32 ms: the spectrum that tells a tone from a voice
  static constexpr int kFloorBlocks = 10;

  void Frame();
  double Tonality(int& peakBin);
  void Classify(double energy);
  void Decide();
  void Clear(bool tone, bool timedOut);

  ListenTimings t_;
  int16_t pending_[kFrame] = {};
  int pendingCount_ = 0;
  float window_[kWindow] = {};          // the latest samples (high-passed), oldest first
  double hp_[5] = {};                   // the high-pass filter's coefficients b0 b1 b2 a1 a2
  double hpState_[4] = {};              // and its last inputs and outputs
  long long samples_ = 0;
  long long frames_ = 0;                // whole frames analysed

  // The noise floor: the least energy of the last some seconds (blocks of frames), so that a
  // steady noise is not voice and a voice over it still is.
  double blockMin_[kFloorBlocks] = {};
  int blocks_ = 0, blockAt_ = 0, blockFrames_ = 0;
  double blockLeast_ = -1, lastEnergy_ = -1, floor_ = 0;
  bool lastEmpty_ = true;               // the frame before held (next to) nothing: a packet lost

  // A steady tone: consecutive tonal frames at about one frequency.
  int toneBin_ = -1, toneFrames_ = 0, toneMisses_ = 0;
  long long toneStartMs_ = -1, toneEndMs_ = -1;
  bool toneConfirmed_ = false, toneEnded_ = false;

  // Words: sound with gaps shorter than a pause between words.
  bool lastVoiced_ = false;             // the frame before was voice (one alone is noise)
  bool inWord_ = false;
  long long wordStartMs_ = 0, wordSoundEndMs_ = 0;
  int wordVoicedFrames_ = 0;
  bool wordPeaked_ = false;             // it rose well over the floor somewhere (not a noise's swell)
  int words_ = 0;
  long long turnStartMs_ = -1;          // the first word's start
  long long lastWordEndMs_ = -1;        // of a word taken (not a click)
  long long lastSoundEndMs_ = -1;       // of a word or a tone

  Answerer who_ = Answerer::Deciding;
  long long clearedAtMs_ = -1, clearedLastWordMs_ = -1;
  bool toneHeard_ = false, timedOut_ = false;
};

// What people read of who answered: "a person", "a machine", "not sure who".
const char* AnswererName(Answerer who);

}  // namespace talmery
