// Speaker mode: no telephone. Each call is printed and its message written to a WAV file, so
// that the whole system can be shown on any machine.
#include <atomic>
#include <cstdio>

#include "gateway/audio.h"
#include "gateway/event_log.h"
#include "gateway/line.h"
#include "gateway/message_plan.h"

namespace talmery {
namespace {

class SpeakerLine : public Line {
 public:
  explicit SpeakerLine(const Config& config) : config_(config) {}

  bool Ready(std::string&) override { return true; }

  TryEnd Place(const DialJob& job, const std::function<void()>& onAnswered) override {
    onAnswered();
    TryEnd o;
    o.answered = true;
    o.dialled = {job.number};
    std::string path = config_.speakerDir + "/call-" + std::to_string(job.id) +
                       (job.attempt > 1 ? "-" + std::to_string(job.attempt) : "") + ".wav";
    // Written as it is made: the file holds what the phone would hear, some seconds in memory.
    std::atomic<bool> stopping{false};
    MessageStream message(PlanMessage(job.text, config_, false, 0, false), HelperSpeechOf(config_)(stopping));
    WavWriter wav;
    std::string error;
    bool written = wav.Open(path, kPhoneRate, error);
    int16_t chunk[4000];
    for (size_t n; written && (n = message.Read(chunk, 4000)) > 0;) written = wav.Append(chunk, n, error);
    if (written && !message.Error().empty()) error = message.Error();
    if (!written || !message.Error().empty() || !wav.Close(error)) {
      o.ending = message.Silent() ? Ending::SpeechSilent : Ending::SpeechFault;
      o.detail = error;
      return o;
    }
    // What the stranger's text holds is shown, never acted on by the terminal.
    std::string shown = "    ";
    for (char c : VisibleText(job.text, true)) {
      shown += c;
      if (c == '\n') shown += "    ";
    }
    while (!shown.empty() && (shown.back() == ' ' || shown.back() == '\n')) shown.pop_back();
    const std::string note = ShortenedNote(message.Trimmed(), message.Cut(), message.Said(), config_);
    std::printf("call %lld to %s:\n%s\n  spoken to %s (%.1f s%s)\n", job.id, VisibleText(job.number).c_str(),
                shown.c_str(), VisibleText(path).c_str(), static_cast<double>(wav.Samples()) / kPhoneRate,
                note.empty() ? "" : ("; " + note).c_str());
    std::fflush(stdout);
    o.ending = Ending::SpokenToFile;
    o.detail = path;
    o.note = note;
    return o;
  }

  void Abort() override {}

 private:
  const Config& config_;
};

}  // namespace

std::unique_ptr<Line> MakeSpeakerLine(const Config& config) {
  return std::make_unique<SpeakerLine>(config);
}

}  // namespace talmery
