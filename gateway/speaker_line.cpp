// Speaker mode: no telephone. Each call is printed and its message written to a WAV file, so
// that the whole system can be shown on any machine.
#include <cstdio>

#include "gateway/line.h"

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
    Pcm message;
    std::string error;
    std::string path = config_.speakerDir + "/call-" + std::to_string(job.id) +
                       (job.attempt > 1 ? "-" + std::to_string(job.attempt) : "") + ".wav";
    if (!RenderMessage(job.text, config_, message, error) || !WriteWavFile(path, message, error)) {
      o.ending = Ending::SpeechFault;
      o.detail = error;
      return o;
    }
    std::string shown = "    ";
    for (char c : job.text) {
      shown += c;
      if (c == '\n') shown += "    ";
    }
    while (!shown.empty() && (shown.back() == ' ' || shown.back() == '\n')) shown.pop_back();
    std::printf("call %lld to %s:\n%s\n  spoken to %s (%.1f s)\n", job.id, job.number.c_str(), shown.c_str(), path.c_str(),
                static_cast<double>(message.samples.size()) / message.rate);
    std::fflush(stdout);
    o.ending = Ending::SpokenToFile;
    o.detail = path;
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
