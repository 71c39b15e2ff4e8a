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

  Outcome Place(const DialJob& job, const std::function<void()>& onAnswered) override {
    onAnswered();
    Outcome o;
    Pcm message;
    std::string error;
    std::string path = config_.speakerDir + "/call-" + std::to_string(job.id) +
                       (job.attempt > 1 ? "-" + std::to_string(job.attempt) : "") + ".wav";
    if (!RenderMessage(job.text, config_, message, error) || !WriteWavFile(path, message, error)) {
      o.result = Result::Transient;
      o.answered = true;
      o.detail = "speech: " + error;
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
    o.result = Result::Delivered;
    o.answered = true;
    o.detail = "spoken to " + path;
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
