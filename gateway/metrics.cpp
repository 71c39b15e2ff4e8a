#include "gateway/metrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace talmery::metrics {
namespace {

const char* const kStates[] = {state::kQueued,   state::kDialling, state::kAnswered,  state::kBusy,   state::kNoAnswer,
                               state::kTemporary, state::kDone,    state::kFailed,    state::kExpired,
                               state::kSnoozed};
const char* const kEndStates[] = {state::kDone, state::kFailed, state::kExpired};
const char* const kHandlers[] = {"call", "status_page", "call_json", "metrics", "other"};
const char* const kRegistrationStates[] = {"starting", "registered", "refused", "down"};
const char* const kAnswerers[] = {"person", "machine", "not sure"};

// Seconds: a request is answered in well under a millisecond to some seconds (a store that
// waits for the disk); a commit is one fsync.
const std::vector<double> kHttpBounds = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};
const std::vector<double> kCommitBounds = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5};

struct Figures {
  Figures() {
    // Each kind from the first scrape on, at 0, so that rate() sees a refusal's first increase.
    for (const RefusalRow& row : kRefusals) refused[row.label] = 0;
    for (const char* s : kEndStates) ended[LabelValue(s)] = 0;
    for (const char* a : kAnswerers) answeredBy[LabelValue(a)] = 0;
    for (const char* h : kHandlers) http.emplace(h, Histogram(kHttpBounds));
  }
  long long accepted = 0;
  std::map<std::string, long long> refused;
  std::map<std::pair<std::string, std::string>, long long> tries;  // (outcome, status)
  std::map<std::string, long long> answeredBy;                     // answered tries, by who answered
  std::map<std::string, long long> ended;
  size_t lines = 0;
  std::string registration;  // empty: the gateway keeps none
  std::map<std::string, Histogram> http;
  Histogram commits{kCommitBounds};
};

std::mutex mu;
Figures& Current() {
  static Figures figures;
  return figures;
}
std::atomic<long long> linesInUse{0};

std::string Number(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

void Family(std::string& out, const std::string& name, const char* type, const char* help) {
  out += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void Sample(std::string& out, const std::string& name, const std::string& labels, const std::string& value) {
  out += name + (labels.empty() ? "" : "{" + labels + "}") + " " + value + "\n";
}

std::string Pair(const std::string& name, const std::string& value) { return name + "=\"" + value + "\""; }

struct ProcessFigures {
  bool read = false;
  double cpuSeconds = 0, startSeconds = 0;
  long long virtualBytes = 0, residentBytes = 0, openFds = 0, maxFds = 0;
};

double ClockSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// /proc/self only: the unit's sandbox (ProcSubset=pid) hides the rest of /proc, so the start
// time is the boot clock's distance to the process's start ticks, not /proc/stat's btime.
ProcessFigures ReadProcess() {
  ProcessFigures p;
  std::ifstream file("/proc/self/stat");
  std::string line;
  if (!std::getline(file, line)) return p;
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return p;
  std::istringstream rest(line.substr(close + 1));
  std::vector<std::string> fields;  // fields[0] is the stat file's third field, the state
  for (std::string f; rest >> f;) fields.push_back(f);
  if (fields.size() < 22) return p;
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  const long long page = sysconf(_SC_PAGESIZE);
  p.cpuSeconds = (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
  const double startedAfterBoot = std::stod(fields[19]) / ticks;
  p.startSeconds = ClockSeconds(CLOCK_REALTIME) - (ClockSeconds(CLOCK_BOOTTIME) - startedAfterBoot);
  p.virtualBytes = std::stoll(fields[20]);
  p.residentBytes = std::stoll(fields[21]) * page;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++p.openFds;
    closedir(dir);
    --p.openFds;  // the listing's own
  }
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) p.maxFds = static_cast<long long>(limit.rlim_cur);
  p.read = true;
  return p;
}

}  // namespace

void CallAccepted() {
  std::lock_guard<std::mutex> lock(mu);
  ++Current().accepted;
}

void CallRefused(Refusal kind) {
  std::lock_guard<std::mutex> lock(mu);
  ++Current().refused[RefusalLabel(kind)];
}

void TryEnded(const std::string& outcome, int sipStatus, const std::string& nextState) {
  std::lock_guard<std::mutex> lock(mu);
  ++Current().tries[{LabelValue(outcome), sipStatus ? std::to_string(sipStatus) : "none"}];
  if (nextState == state::kDone || nextState == state::kFailed) ++Current().ended[LabelValue(nextState)];
}

void AnsweredBy(const std::string& answerer) {
  std::lock_guard<std::mutex> lock(mu);
  const auto known = Current().answeredBy.find(LabelValue(answerer));
  if (known != Current().answeredBy.end()) ++known->second;  // a fixed set: nothing else is a label
}

void CallEnded(const std::string& state) {
  std::lock_guard<std::mutex> lock(mu);
  ++Current().ended[LabelValue(state)];
}

void SetLines(size_t lines) {
  std::lock_guard<std::mutex> lock(mu);
  Current().lines = lines;
}

void SetRegistration(const std::string& state) {
  std::lock_guard<std::mutex> lock(mu);
  Current().registration = state;
}

void HttpAnswered(const std::string& path, std::chrono::steady_clock::duration took) {
  std::lock_guard<std::mutex> lock(mu);
  Current().http.at(HttpHandler(path)).Observe(std::chrono::duration<double>(took).count());
}

LineInUse::LineInUse() { ++linesInUse; }
LineInUse::~LineInUse() { --linesInUse; }

void CommitTook(std::chrono::steady_clock::duration took) {
  std::lock_guard<std::mutex> lock(mu);
  Current().commits.Observe(std::chrono::duration<double>(took).count());
}

std::string HttpHandler(const std::string& path) {
  if (path == "/ocall/callreqHandler.jsp") return "call";
  if (path == "/") return "status_page";
  if (path == "/metrics") return "metrics";
  if (path.compare(0, 7, "/calls/") == 0 && path.size() > 7 &&
      path.find_first_not_of("0123456789", 7) == std::string::npos)
    return "call_json";
  return "other";
}

std::string LabelValue(const std::string& text) {
  std::string value = text;
  for (char& c : value)
    if (c == ' ') c = '_';
  return value;
}

Histogram::Histogram(std::vector<double> bounds) : bounds_(std::move(bounds)), counts_(bounds_.size() + 1, 0) {}

void Histogram::Observe(double value) {
  size_t i = 0;
  while (i < bounds_.size() && value > bounds_[i]) ++i;
  ++counts_[i];
  sum_ += value;
  ++count_;
}

std::string Histogram::Samples(const std::string& name, const std::string& labels) const {
  std::string out;
  const std::string before = labels.empty() ? "" : labels + ",";
  long long cumulative = 0;
  for (size_t i = 0; i <= bounds_.size(); ++i) {
    cumulative += counts_[i];
    Sample(out, name + "_bucket", before + Pair("le", i < bounds_.size() ? Number(bounds_[i]) : "+Inf"),
           std::to_string(cumulative));
  }
  Sample(out, name + "_sum", labels, Number(sum_));
  Sample(out, name + "_count", labels, std::to_string(count_));
  return out;
}

std::string Page(const StoreFigures& store, long long nowMs) {
  std::string out;
  {
    std::lock_guard<std::mutex> lock(mu);
    const Figures& f = Current();
    Family(out, "talmery_calls_accepted_total", "counter", "Call requests accepted: stored, their id answered.");
    Sample(out, "talmery_calls_accepted_total", "", std::to_string(f.accepted));
    Family(out, "talmery_calls_refused_total", "counter",
           "Requests refused (nothing stored), by reason; each is an event=refused line in the log.");
    for (const RefusalRow& row : kRefusals)
      Sample(out, "talmery_calls_refused_total", Pair("reason", row.label), std::to_string(f.refused.at(row.label)));
    Family(out, "talmery_tries_total", "counter", "Tries ended, by outcome and SIP status (none: no final answer).");
    for (const auto& [key, n] : f.tries)
      Sample(out, "talmery_tries_total", Pair("outcome", key.first) + "," + Pair("status", key.second), std::to_string(n));
    Family(out, "talmery_answered_total", "counter",
           "Answered tries, by who answered as the line heard it (person, machine, not sure).");
    for (const auto& [by, n] : f.answeredBy) Sample(out, "talmery_answered_total", Pair("by", by), std::to_string(n));
    Family(out, "talmery_calls_ended_total", "counter", "Calls that reached their final state, by that state.");
    for (const auto& [s, n] : f.ended) Sample(out, "talmery_calls_ended_total", Pair("state", s), std::to_string(n));
    Family(out, "talmery_lines", "gauge", "Lines: calls that may go on at once.");
    Sample(out, "talmery_lines", "", std::to_string(f.lines));
    Family(out, "talmery_lines_in_use", "gauge", "Lines placing a call now.");
    Sample(out, "talmery_lines_in_use", "", std::to_string(linesInUse.load()));
    if (!f.registration.empty()) {
      Family(out, "talmery_registration_state", "gauge", "The registration with the PBX: 1 for its state now.");
      for (const char* s : kRegistrationStates)
        Sample(out, "talmery_registration_state", Pair("state", s), f.registration == s ? "1" : "0");
    }
    Family(out, "talmery_http_request_duration_seconds", "histogram",
           "Time from a request's head to its answer, by handler.");
    for (const auto& [handler, h] : f.http)
      out += h.Samples("talmery_http_request_duration_seconds", Pair("handler", handler));
    Family(out, "talmery_store_commit_duration_seconds", "histogram",
           "Time of one commit of the call store (a batch of changes, on disk when it ends).");
    out += f.commits.Samples("talmery_store_commit_duration_seconds", "");
  }

  Family(out, "talmery_calls", "gauge", "Calls in the store, by state.");
  std::map<std::string, long long> byState;
  for (const char* s : kStates) byState[s] = 0;
  for (const auto& [s, n] : store.byState) byState[s] = n;
  for (const auto& [s, n] : byState) Sample(out, "talmery_calls", Pair("state", LabelValue(s)), std::to_string(n));
  Family(out, "talmery_queue_length", "gauge", "Calls waiting to be placed: queued, or waiting for their next try.");
  Sample(out, "talmery_queue_length", "", std::to_string(store.waiting));
  Family(out, "talmery_queue_oldest_age_seconds", "gauge",
         "Age of the oldest call waiting to be placed, from its request (0 when none waits).");
  const long long ageMs = store.oldestWaitingMs ? std::max(0LL, nowMs - *store.oldestWaitingMs) : 0;
  Sample(out, "talmery_queue_oldest_age_seconds", "", Number(static_cast<double>(ageMs) / 1000));

  const ProcessFigures p = ReadProcess();
  if (p.read) {
    Family(out, "process_cpu_seconds_total", "counter", "Total user and system CPU time spent in seconds.");
    Sample(out, "process_cpu_seconds_total", "", Number(p.cpuSeconds));
    Family(out, "process_open_fds", "gauge", "Number of open file descriptors.");
    Sample(out, "process_open_fds", "", std::to_string(p.openFds));
    Family(out, "process_max_fds", "gauge", "Maximum number of open file descriptors.");
    Sample(out, "process_max_fds", "", std::to_string(p.maxFds));
    Family(out, "process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.");
    Sample(out, "process_virtual_memory_bytes", "", std::to_string(p.virtualBytes));
    Family(out, "process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
    Sample(out, "process_resident_memory_bytes", "", std::to_string(p.residentBytes));
    Family(out, "process_start_time_seconds", "gauge", "Start time of the process since unix epoch in seconds.");
    Sample(out, "process_start_time_seconds", "", Number(p.startSeconds));
  }
  return out;
}

}  // namespace talmery::metrics
