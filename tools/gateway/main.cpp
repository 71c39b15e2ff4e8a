// talmery-gateway: a stand-in for the telephony gateway. It accepts call requests on
// "/ocall/callreqHandler.jsp", prints them, optionally speaks them into WAV files, and answers
// with a request id in brackets.
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/url_form.h"
#include "tools/gateway/cli_options.h"
#include "tools/gateway/form.h"
#include "tools/gateway/gateway_server.h"
#include "tools/gateway/speaker.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
extern "C" void OnStopSignal(int) { g_stop = 1; }

const char kCallPath[] = "/ocall/callreqHandler.jsp";

bool HasDigit(const std::string& s) {
  for (char c : s)
    if (c >= '0' && c <= '9') return true;
  return false;
}

std::string Indented(const std::string& text) {
  std::string out = "    ";
  for (size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\n' && i + 1 < text.size()) out += "    ";
  }
  if (out.empty() || out.back() != '\n') out += '\n';
  return out;
}

// Speaks the texts one after another, after the answer went out, as a telephony server would
// place the call after accepting the request.
class SpeechQueue {
 public:
  explicit SpeechQueue(std::string dir) : dir_(std::move(dir)), worker_([this] { Run(); }) {}
  ~SpeechQueue() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      closing_ = true;
    }
    cv_.notify_all();
    worker_.join();  // finishes what was queued
  }
  void Add(long long id, std::string text) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      jobs_.emplace_back(id, std::move(text));
    }
    cv_.notify_all();
  }

 private:
  void Run() {
    for (;;) {
      std::pair<long long, std::string> job;
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return closing_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      std::string path = dir_ + "/call-" + std::to_string(job.first) + ".wav";
      std::string error;
      if (gateway::SpeakToWav(job.second, path, error)) {
        std::ifstream f(path, std::ios::binary | std::ios::ate);
        long long size = f ? static_cast<long long>(f.tellg()) : -1;
        std::printf("call request #%lld: spoken to %s (%lld bytes)\n", job.first, path.c_str(), size);
      } else {
        std::printf("call request #%lld: cannot speak: %s\n", job.first, error.c_str());
      }
      std::fflush(stdout);
    }
  }

  std::string dir_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::pair<long long, std::string>> jobs_;
  bool closing_ = false;
  std::thread worker_;
};

const char* ReasonFor(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

}  // namespace

int main(int argc, char** argv) {
  gateway::CliOptions options;
  std::string error;
  if (!gateway::ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "talmery-gateway: %s\n%s", error.c_str(), gateway::CliUsage());
    return 2;
  }
  if (options.help) {
    std::fputs(gateway::CliUsage(), stdout);
    return 0;
  }
#ifdef _WIN32
  if (!options.speakDir.empty()) {
    std::fprintf(stderr, "talmery-gateway: --speak-dir works on Linux only\n");
    return 2;
  }
#else
  std::signal(SIGPIPE, SIG_IGN);  // a client or espeak-ng that vanished is an error, not a kill
  std::signal(SIGTERM, OnStopSignal);
#endif
  std::signal(SIGINT, OnStopSignal);

  std::unique_ptr<SpeechQueue> speech;
  if (!options.speakDir.empty()) speech = std::make_unique<SpeechQueue>(options.speakDir);

  std::mutex printMu;
  long long nextId = 1000;
  std::atomic<long> calls{0};

  gateway::Server server;
  server.SetResponder([&](const gateway::RecordedRequest& r) {
    gateway::Answer a;
    std::lock_guard<std::mutex> lock(printMu);
    if (r.method != "POST" || r.target != kCallPath) {
      std::printf("ignored %s %s\n", r.method.c_str(), r.target.c_str());
      std::fflush(stdout);
      a.status = 404;
      a.reason = "Not Found";
      a.body = "ERROR: no such request handler\r\n";
      return a;
    }
    auto form = gateway::ParseForm(r.body);
    std::string phone = gateway::FormField(form, "phoneno");
    // The stand-in decodes code page 1252 only; a text in another one is shown as 1252 would.
    const unsigned codePage = gateway::FormCodePage(r.Header("Content-Type"));
    std::string text = urlform::Cp1252ToUtf8(gateway::FormField(form, "txt"));
    long long id = nextId++;
    ++calls;
    const std::string note =
        codePage != 0 && codePage != 1252 ? " (code page " + std::to_string(codePage) + ", shown as 1252)" : "";
    std::printf("call request #%lld: number %s%s\n%s", id, phone.c_str(), note.c_str(), Indented(text).c_str());
    if (options.fixedAnswer) {
      a.status = options.status;
      a.reason = ReasonFor(options.status);
      a.body = options.body;
    } else if (!HasDigit(phone)) {
      a.body = "ERROR: phoneno holds no number\r\n";
    } else {
      a.body = "[" + std::to_string(id) + "]";
      if (speech) speech->Add(id, text);
    }
    std::string shown = a.body;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
    std::printf("  answered %d %s\n", a.status, shown.c_str());
    std::fflush(stdout);
    return a;
  });

  if (!server.Start(options.port)) {
    std::fprintf(stderr, "talmery-gateway: cannot listen on 127.0.0.1:%u\n", static_cast<unsigned>(options.port));
    return 1;
  }
  std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(server.Port()));
  std::fflush(stdout);

  for (;;) {
    if (g_stop) break;
    if (options.maxRequests > 0 && calls >= options.maxRequests) {
      // Let the last answers go out before stopping cuts their connections.
      for (int i = 0; i < 100 && server.AnsweredCount() < server.RequestCount(); ++i)
        server.WaitForAnswered(server.RequestCount(), 50);
      break;
    }
    server.WaitForAnswered(server.AnsweredCount() + 1, 100);
  }
  server.Stop();
  speech.reset();  // speaks what is still queued
  std::printf("stopped\n");
  std::fflush(stdout);
  return 0;
}
