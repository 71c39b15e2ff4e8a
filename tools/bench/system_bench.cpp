// Measures the whole system on this machine and prints one markdown table (rows only; the
// caller adds the header with date and machine). Every figure comes from this one run.
//   system_bench [reminders per block of the path's series=40] [path]   ("path": the reminder path alone, each sample on stderr)
// The reminder path is timed from the moment the simulator's event call reaches a timing sink
// advised before the agent (the performance counter is one clock for all processes) to the
// moment the in-process stand-in gateway has read the request.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/harness/message_box_watcher.h"
#include "tests/harness/paths.h"
#include "tests/harness/process.h"
#include "tests/system/agent_census.h"
#include "tests/system/agent_copy.h"
#include "tools/bench/bench_floor_client.h"
#include "tools/bench/bench_stats.h"
#include "tests/system/hostile_run.h"
#include "tests/system/process_metrics.h"
#include "tests/system/system_paths.h"
#include "tests/system/system_rig.h"

namespace systemtest {
namespace {

void Row(const std::string& measure, const std::string& result, const std::string& how) {
  std::printf("| %s | %s | %s |\n", measure.c_str(), result.c_str(), how.c_str());
  std::fflush(stdout);
}

// A measurement whose run could not be set up still gets its row, so that a gap shows.
void Missing(const std::string& measure) { Row(measure, "not measured", "the simulator or the agent did not start in time"); }

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Arrival times (NowMs) of the gateway's requests, taken on its connection threads.
class Arrivals {
 public:
  explicit Arrivals(gateway::Server& server) {
    server.OnRequest([this](const gateway::RecordedRequest&) {
      std::lock_guard<std::mutex> lock(mu_);
      times_.push_back(NowMs());
    });
  }
  std::vector<double> Times() const {
    std::lock_guard<std::mutex> lock(mu_);
    return times_;
  }

 private:
  mutable std::mutex mu_;
  std::vector<double> times_;
};

// "ms=" of the event lines of one sink (cookie) in the simulator's log.
std::vector<double> EventMs(const LogFollower& log, int cookie, const std::string& item = "") {
  std::vector<double> ms;
  const std::string sink = " cookie=" + std::to_string(cookie) + " ";
  for (const SeenLine& line : log.Lines()) {
    if (line.text.rfind("Event 0xF004 ", 0) != 0 || line.text.find(sink) == std::string::npos) continue;
    if (!item.empty() && line.text.find(" Item#" + item + " ") == std::string::npos) continue;
    const size_t at = line.text.find(" ms=");
    if (at != std::string::npos) ms.push_back(std::atof(line.text.c_str() + at + 4));
  }
  return ms;
}

double AddinMs(const LogFollower& log, const std::string& call) {
  const long at = log.Find("Addin Brisomel.Addin " + call + " hr=");
  if (at < 0) return -1;
  const std::string& line = log.Lines()[static_cast<size_t>(at)].text;
  const size_t ms = line.find(" ms=");
  return ms == std::string::npos ? -1 : std::atof(line.c_str() + ms + 4);
}

std::string RepeatedFires(const std::string& item, int runs, const char* pause) {
  std::string script;
  for (int i = 0; i < runs; ++i) script += "fire " + item + "\nsleep " + pause + "\n";
  return script;
}

// Invoke -> request for the agent or a plain client (sink 2), with a timing sink as sink 1.
struct PathRun {
  std::vector<double> latencies;
  std::vector<double> eventMs;
  std::string firstBody;
  size_t failures = 0;
};

// Who takes the reminders: the agent; the plain client as a program of its own (floor_agent), as
// the agent is; or the plain client inside this program, beside the timing sink and the gateway,
// to show what the process boundary costs.
enum class PathSubject { Agent, Floor, FloorInBench };

PathRun MeasurePath(PathSubject subject, const AgentCopy& agent, const std::string& floorBody, int runs) {
  PathRun run;
  SystemRig rig;
  Arrivals arrivals(rig.Gateway());
  // The first reminder comes a second after the subject advised: the path is timed, not what the
  // agent still does to start once it has advised (its look at the reminders already due), which
  // the start's own row measures.
  const std::string script = "version \"16.0.0.1\"\n" + ReminderItem("1", "Budget review", "555-0100") +
                             "wait-advise 60s 2\nsleep 1s\n" + RepeatedFires("1", runs, "150ms") + "note done\n";
  QuietSink* timing = nullptr;
  if (!rig.Ok() || !rig.StartOutlook(script) || !rig.OpenGate(&timing)) return run;
  std::unique_ptr<FloorClient> inBench;
  const std::string floorExe = harness::WinePath(FLOOR_AGENT_EXE);
  switch (subject) {
    case PathSubject::Agent:
      if (!rig.StartAgentFrom(agent.AnsiPath())) return run;
      break;
    case PathSubject::Floor:
      if (!rig.StartClient(floorExe, "\"" + floorExe + "\" " + std::to_string(rig.Gateway().Port()) + " " + floorBody)) {
        return run;
      }
      break;
    case PathSubject::FloorInBench:
      inBench = std::make_unique<FloorClient>(rig.Gateway().Port(), floorBody);
      if (!rig.AdviseSink(inBench->Sink())) return run;
      break;
  }
  // The series is waited out on the gateway's count, not by reading the simulator's log every few
  // milliseconds, which would take a core's share from the processes timed on a small machine.
  rig.WaitForRequests(static_cast<size_t>(runs), 120000);
  rig.OutlookLog().WaitFor("Note done", 10000);
  PumpWhile([] { return false; }, 200);
  const std::vector<double> sent = timing->EventTimes();
  const std::vector<double> arrived = arrivals.Times();
  for (size_t i = 0; i < sent.size() && i < arrived.size(); ++i) run.latencies.push_back(arrived[i] - sent[i]);
  run.eventMs = EventMs(rig.OutlookLog(), 2);
  run.failures = static_cast<size_t>(runs) - std::min<size_t>(static_cast<size_t>(runs), arrived.size()) +
                 (inBench ? inBench->Failures() : 0);
  const auto requests = rig.Gateway().Requests();
  if (!requests.empty()) run.firstBody = requests[0].body;
  rig.CloseGates();
  return run;
}

// Each subject's series is taken in blocks that alternate with the others', so that all see the
// same load: run one after the other, a machine shared with other work showed its drift as their
// ratio. Each block has `runs` reminders: a p95 of 40 samples is their second largest, and two
// identical plain clients measured so differed by up to a fifth; four blocks give 160 samples.
constexpr int kPathBlocks = 4;

void Append(PathRun& into, const PathRun& block) {
  into.latencies.insert(into.latencies.end(), block.latencies.begin(), block.latencies.end());
  into.eventMs.insert(into.eventMs.end(), block.eventMs.begin(), block.eventMs.end());
  if (into.firstBody.empty()) into.firstBody = block.firstBody;
  into.failures += block.failures;
}

std::string Ratio(const Summary& over, const Summary& under) {
  char ratio[96] = "-";
  if (under.median > 0 && under.p95 > 0) {
    std::snprintf(ratio, sizeof ratio, "median %.2fx, p95 %.2fx", over.median / under.median, over.p95 / under.p95);
  }
  return ratio;
}

void PrintSamples(const char* subject, const PathRun& run) {
  std::fprintf(stderr, "%s:", subject);
  for (size_t i = 0; i < run.latencies.size(); ++i) {
    std::fprintf(stderr, " %.1f/%.1f", run.latencies[i], i < run.eventMs.size() ? run.eventMs[i] : -1.0);
  }
  std::fprintf(stderr, "\n");
}

void MeasureReminderPath(const AgentCopy& agent, int runs, bool printSamples) {
  PathRun product, floor, inBench;
  for (int block = 0; block < kPathBlocks; ++block) {
    Append(product, MeasurePath(PathSubject::Agent, agent, std::string(), runs));
    Append(floor, MeasurePath(PathSubject::Floor, agent, product.firstBody, runs));
    Append(inBench, MeasurePath(PathSubject::FloorInBench, agent, product.firstBody, runs));
  }
  if (printSamples) {
    PrintSamples("agent", product);
    PrintSamples("floor", floor);
    PrintSamples("floor inside the bench", inBench);
  }
  const Summary agentPath = Summarize(product.latencies), floorPath = Summarize(floor.latencies),
                inBenchPath = Summarize(inBench.latencies);
  Row("Reminder Invoke → request at the gateway: agent", Describe(agentPath),
      "event call reaches a timing sink advised first → stand-in gateway has read the request; " +
          std::to_string(kPathBlocks) + " blocks of " + std::to_string(runs) +
          " reminders 150 ms apart, a second after the advise, alternating with the floors' blocks");
  Row("Reminder Invoke → request at the gateway: floor", Describe(floorPath),
      "same, for a plain client in a program of its own (tools/bench/floor_agent): the same 10 Automation calls "
      "in its sink, a posted message, one bare Winsock POST of the same bytes");
  Row("Reminder Invoke → request at the gateway: agent / floor", Ratio(agentPath, floorPath),
      "the two rows above, divided");
  Row("Reminder Invoke → request at the gateway: floor inside the bench", Describe(inBenchPath),
      "the same plain client inside the measuring program, beside the timing sink and the gateway: what a process "
      "of its own costs (floor / this: " + Ratio(floorPath, inBenchPath) + "; agent / this: " +
          Ratio(agentPath, inBenchPath) + ")");
  Row("Outlook blocked per event, instant gateway: agent", Describe(Summarize(product.eventMs), "ms", 2),
      "duration of the agent's event call (simulator log `Event ... ms=`)");
  Row("Outlook blocked per event, instant gateway: floor", Describe(Summarize(floor.eventMs), "ms", 2),
      "the same for the plain client's sink");
  if (product.failures || floor.failures || inBench.failures) {
    Row("(failures in the path runs)",
        std::to_string(product.failures) + " agent, " + std::to_string(floor.failures) + " floor, " +
            std::to_string(inBench.failures) + " floor inside the bench",
        "requests missing or not accepted");
  }
}

void MeasureSlowGateway(const AgentCopy& agent) {
  SystemRig rig;
  gateway::Answer slow;
  slow.autoId = true;
  slow.delayMs = 2000;
  rig.Gateway().SetAnswer(slow);
  // Three reminders far apart, then one that comes due 0.5 s into the previous one's request.
  const std::string script = "version \"16.0.0.1\"\n" + ReminderItem("1", "alone", "555-0100") +
                             ReminderItem("2", "held", "555-0101") + "wait-advise 60s 1\n" +
                             RepeatedFires("1", 4, "2500ms") + "fire 1\nsleep 500ms\nfire 2\nsleep 4s\nnote done\n";
  if (!rig.Ok() || !rig.StartOutlook(script) || !rig.StartAgentFrom(agent.AnsiPath())) {
    return Missing("Outlook blocked per event, 2 s gateway");
  }
  rig.OutlookLog().WaitFor("Note done", 60000);
  Row("Outlook blocked per event, 2 s gateway", Describe(Summarize(EventMs(rig.OutlookLog(), 1, "1")), "ms", 2),
      "event calls with no request of the agent pending (the request runs after the call returned)");
  const std::vector<double> held = EventMs(rig.OutlookLog(), 1, "2");
  Row("Outlook blocked by an event during a pending 2 s request", held.empty() ? "no sample" : Format("%.0f ms", held[0]),
      "event raised 0.5 s into the agent's 2 s request (the request runs on a worker while the agent serves "
      "Outlook)");
}

// A gateway that sends its answer one byte per second: the 40 bytes would take 40 s, the exchange's
// deadline ends it at 30 s. Measured by a second reminder, whose request can only follow the first
// exchange.
void MeasureTrickle(const AgentCopy& agent) {
  SystemRig rig;
  Arrivals arrivals(rig.Gateway());
  gateway::Answer trickle;
  trickle.body = "[" + std::string(38, '7') + "]";
  trickle.mode = gateway::Answer::Mode::Trickle;
  trickle.trickleDelayMs = 1000;
  gateway::Answer quick;
  quick.autoId = true;
  rig.Gateway().QueueAnswers({trickle});
  rig.Gateway().SetAnswer(quick);
  const std::string script = "version \"16.0.0.1\"\n" + ReminderItem("1", "trickled", "555-0100") +
                             ReminderItem("2", "next", "555-0101") + "wait-advise 60s 1\nfire 1\nfire 2\n";
  if (!rig.Ok() || !rig.StartOutlook(script) || !rig.StartAgentFrom(agent.AnsiPath()) ||
      !rig.WaitForRequests(2, 120000)) {
    return Missing("Exchange with a gateway trickling a 40-byte answer at 1 byte/s");
  }
  const std::vector<double> arrived = arrivals.Times();
  Row("Exchange with a gateway trickling a 40-byte answer at 1 byte/s",
      Format("%.1f s", (arrived[1] - arrived[0]) / 1000) + " (the whole exchange has a 30 s deadline)",
      "first request read → the next queued reminder's request read");
}

// Each hostile gateway in turn, a reminder queued behind each: how long that reminder waited, and
// the agent's memory while 300 MB of headers come at it.
void MeasureHostile(const AgentCopy& agent) {
  SystemRig rig;
  gateway::Server elsewhere;
  if (!rig.Ok() || !elsewhere.Start()) return Missing("Hostile gateways");
  const std::vector<HostileCase> cases = HostileCases(rig.Gateway().Port(), elsewhere.Port());
  std::unique_ptr<ProcessSampler> sampler;
  unsigned long long idle = 0, peak = 0;
  const std::vector<HostileOutcome> outcomes = RunHostile(
      rig, cases,
      [&](size_t i) {
        if (!sampler) {
          sampler = std::make_unique<ProcessSampler>(rig.Agent().Handle(), rig.Agent().Pid(), agent.UniqueTail());
          idle = sampler->Sample().privateBytes;
        }
        if (cases[i].answer.mode == gateway::Answer::Mode::HugeHeaders) {
          peak = std::max(peak, sampler->Sample().privateBytes);
        }
      },
      agent.AnsiPath());
  for (size_t i = 0; i < cases.size(); ++i) {
    Row("Hostile gateway, " + cases[i].name + ": the next reminder's request",
        outcomes[i].nextArrived ? Format("%.1f s", outcomes[i].nextAfterMs / 1000) + " after the hostile one"
                                : std::string("DID NOT ARRIVE"),
        "hostile request read → the request of the reminder raised right behind it read (deadline 30 s)");
  }
  Row("Agent private bytes during 300 MB of headers",
      Format("peak %.0f KB", static_cast<double>(peak) / 1024) + Format(" (idle %.0f KB)", static_cast<double>(idle) / 1024),
      "host RssAnon sampled every 50 ms while the gateway streams header lines (the agent reads 64 KB of head at most)");
}

// A too-late reminder whose box the user leaves up for 10 s, an ordinary one right behind it.
void MeasureTooLateBox(const AgentCopy& agent) {
  SystemRig rig;
  harness::MessageBoxWatcher boxes(kAgentCaption, 10000);
  const std::string script = "version \"16.0.0.1\"\n"
                             "item late class \"IPM.Appointment.ReminderCall\" start -5m\n" +
                             ReminderItem("next", "next", "555-0150") +
                             "wait-advise 60s 1\nfire late\nfire next\nnote done\n";
  if (!rig.Ok() || !rig.StartOutlook(script) || !rig.StartAgentFrom(agent.AnsiPath()) ||
      rig.OutlookLog().WaitFor("Note done", 30000) < 0 || !rig.WaitForRequests(1, 30000) ||
      !boxes.WaitForCount(1, 10000)) {
    return Missing("Outlook blocked by a too-late appointment's event while its box stays up");
  }
  const bool boxStillUp = FindWindowA("#32770", kAgentCaption) != nullptr;
  const std::vector<double> late = EventMs(rig.OutlookLog(), 1, "late");
  const std::vector<double> next = EventMs(rig.OutlookLog(), 1, "next");
  Row("Outlook blocked by a too-late appointment's event while its box stays up 10 s",
      late.empty() ? "no sample"
                   : Format("%.1f ms", late[0]) + (next.empty() ? "" : Format(" (the ordinary event after it: %.1f ms)", next[0])),
      std::string("simulator log `Event ... ms=`; the box waits on the agent's notifier thread; the next reminder's "
                  "request arrived ") +
          (boxStillUp ? "while the box was still up" : "after the box"));
}

void MeasureBurst(const AgentCopy& agent) {
  SystemRig rig;
  Arrivals arrivals(rig.Gateway());
  constexpr int kBurst = 200;
  std::string script = "version \"16.0.0.1\"\n";
  for (int i = 0; i < kBurst; ++i) {
    char name[16], phone[16];
    std::snprintf(name, sizeof name, "r%03d", i);
    std::snprintf(phone, sizeof phone, "555-7%03d", i);
    script += ReminderItem(name, name, phone);
  }
  script += "wait-advise 60s 1\nnote burst\n";
  for (int i = 0; i < kBurst; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "fire r%03d\n", i);
    script += line;
  }
  script += "note done\n";
  if (!rig.Ok() || !rig.StartOutlook(script) || !rig.StartAgentFrom(agent.AnsiPath())) {
    return Missing("Burst of 200 reminders");
  }
  LogFollower& log = rig.OutlookLog();
  long first = -1;
  PumpWhile(
      [&] {
        log.Poll();
        first = log.Find("Fire 0xF004 Item#r000");
        return first >= 0;
      },
      30000, 1);
  const bool all = rig.WaitForRequests(kBurst, 120000);
  const std::vector<double> arrived = arrivals.Times();
  log.WaitFor("Note done", 10000);
  if (first < 0 || arrived.empty()) return Missing("Burst of 200 reminders");
  const double seconds = (arrived.back() - log.Lines()[static_cast<size_t>(first)].seenAtMs) / 1000;
  bool ordered = all;
  const auto requests = rig.Gateway().Requests();
  for (int i = 0; ordered && i < kBurst; ++i) {
    char phone[16];
    std::snprintf(phone, sizeof phone, "5557%03d", i);
    ordered = PhoneOf(requests[static_cast<size_t>(i)]) == phone;
  }
  const Summary events = Summarize(EventMs(log, 1));
  Row("Burst of 200 reminders", Format("%.0f requests/s", kBurst / seconds) + Format(" (%.2f s in all)", seconds) +
                                     (ordered ? ", all in order" : ", ORDER OR COUNT WRONG"),
      "200 events back to back; first event raised → 200th request read");
  Row("Outlook blocked per event during the burst", Describe(events, "ms", 1) + Format(", max %.0f ms", events.max),
      "event calls while the agent works through the queued requests");
}

void MeasureAddinAndStart(const AgentCopy& agent, int rounds) {
  std::vector<double> connection, startup, ready;
  {
    SystemRig rig;
    if (!rig.Ok() || !rig.RegisterAddin()) return Missing("Add-in OnConnection and OnStartupComplete");
    rig.WriteSetting("path", REG_SZ, harness::SzBytes(agent.AnsiPath()));
    rig.AdoptAgentsOf(agent.AnsiPath());
    for (int i = 0; i < rounds; ++i) {
      if (!rig.StartOutlook("note loaded\n", true) || !rig.WaitForNextAdvise()) break;
      connection.push_back(AddinMs(rig.OutlookLog(), "OnConnection"));
      startup.push_back(AddinMs(rig.OutlookLog(), "OnStartupComplete"));
      rig.QuitOutlook();
      PumpWhile([&] { return ProcessesOf(agent.AnsiPath()).empty(); }, 10000, 20);
    }
  }
  {
    SystemRig rig;
    if (!rig.Ok() || !rig.StartOutlook("version \"16.0.0.1\"\n")) return Missing("Agent start to ready, hidden");
    for (int i = 0; i < rounds; ++i) {
      const double launched = NowMs();
      harness::Process process = harness::Process::Launch(agent.AnsiPath(), " /hidewindow yes");
      LogFollower& log = rig.OutlookLog();
      long seen = -1;
      PumpWhile(
          [&] {
            log.Poll();
            seen = log.Find("Advise cookie=" + std::to_string(i + 1));
            return seen >= 0;
          },
          30000, 1);
      if (seen < 0) break;
      ready.push_back(log.Lines()[static_cast<size_t>(seen)].seenAtMs - launched);
    }
  }
  Row("Add-in OnConnection", Describe(Summarize(connection), "ms", 3),
      "simulator log `Addin ... ms=`, " + std::to_string(connection.size()) + " starts of the simulator");
  Row("Add-in OnStartupComplete", Describe(Summarize(startup), "ms", 3),
      "the same; Outlook's call only hands the launch to a thread of the add-in, which reads the path and starts the agent");
  Row("Agent start to ready, hidden", Describe(Summarize(ready), "ms", 0),
      "CreateProcessA(\" /hidewindow yes\") → the simulator logs its Advise (log polled every 1 ms)");
}

void MeasureIdle(const AgentCopy& agent, DWORD idleMs) {
  SystemRig rig;
  if (!rig.Ok() || !rig.StartOutlook("version \"16.0.0.1\"\n") || !rig.StartAgentFrom(agent.AnsiPath())) {
    return Missing("Agent idle private bytes");
  }
  ProcessSampler sampler(rig.Agent().Handle(), rig.Agent().Pid(), agent.UniqueTail());
  // A baseline: a Wine program that only waits in a message box's loop.
  const std::string showBox = harness::WinePath(HARNESS_SHOW_BOX);
  harness::MessageBoxWatcher none("no such caption");
  harness::Process baseline = harness::Process::Launch(showBox, "\"" + showBox + "\" \"Bench baseline\" \"idle\"");
  std::string tail = showBox.substr(showBox.rfind('\\', showBox.rfind('\\') - 1) + 1);
  ProcessSampler base(baseline.Handle(), baseline.Pid(), tail);
  PumpWhile([] { return false; }, 2000);
  const HostSample hostBefore = sampler.Host();
  const HostSample baseBefore = base.Host();
  PumpWhile([] { return false; }, idleMs, 50);
  const ProcessSample after = sampler.Sample();
  const HostSample hostAfter = sampler.Host();
  const HostSample baseAfter = base.Host();
  const double seconds = idleMs / 1000.0;
  Row("Agent idle private bytes", Format("%.0f KB", static_cast<double>(after.privateBytes) / 1024) + " (" +
                                      after.privateSource + "), " + std::to_string(after.handles) + " handles, " +
                                      Format("working set %.0f KB", static_cast<double>(after.workingSetBytes) / 1024),
      "connected to the simulator, no reminder yet; sampled from outside the agent");
  if (hostAfter.ok && hostBefore.ok) {
    Row("Agent CPU while idle",
        Format("%.0f ms", static_cast<double>(hostAfter.cpuTicks - hostBefore.cpuTicks) * 10.0) + Format(" in %.0f s", seconds),
        "utime+stime of the Linux process behind the agent (10 ms ticks); Wine's GetProcessTimes does not report "
        "other processes' times");
  }
  if (hostAfter.ok && hostBefore.ok) {
    int woken = 0;
    const double all = static_cast<double>(SwitchesBetween(hostBefore, hostAfter, &woken)) / seconds;
    const double main = static_cast<double>(MainThreadSwitchesBetween(hostBefore, hostAfter)) / seconds;
    std::string baseText = "no baseline";
    if (baseAfter.ok && baseBefore.ok) {
      baseText = Format("%.1f/s", static_cast<double>(SwitchesBetween(baseBefore, baseAfter)) / seconds) +
                 Format(" (main thread %.1f/s)", static_cast<double>(MainThreadSwitchesBetween(baseBefore, baseAfter)) / seconds);
    }
    Row("Agent wake-ups while idle",
        Format("%.1f/s", all) + Format(" (main thread %.1f/s; ", main) + std::to_string(woken) + " of " +
            std::to_string(hostAfter.threads) + " threads woke); baseline " + baseText,
        "context switches of the Linux threads behind the agent over the idle time (/proc/<pid>/task/*/status); "
        "baseline: a Wine program idle in a message box");
    for (const auto& thread : hostAfter.threadSwitches) {
      const auto was = hostBefore.threadSwitches.find(thread.first);
      std::fprintf(stderr, "idle agent thread %d: %llu -> %llu switches\n", thread.first,
                   was == hostBefore.threadSwitches.end() ? 0ULL : was->second, thread.second);
    }
  }
  baseline.Terminate();
}

}  // namespace
}  // namespace systemtest

int main(int argc, char** argv) {
  using namespace systemtest;
  const int runs = argc > 1 ? std::max(5, std::atoi(argv[1])) : 40;
  const bool pathOnly = argc > 2 && std::strcmp(argv[2], "path") == 0;
  if (FAILED(OleInitialize(nullptr))) return 2;
  simdriver::SimProcess registration(OutlookSimExeW());
  if (!registration.Register()) {
    std::fprintf(stderr, "system_bench: outlook-sim.exe /regserver failed\n");
    return 2;
  }
  {
    // The agent runs from a copy of its own, so that the host's view finds exactly it.
    const AgentCopy agent({L"Brisomel"}, L"cadelo");
    if (!agent.Ok()) return 2;
    MeasureReminderPath(agent, runs, pathOnly);
    if (pathOnly) return 0;
    MeasureSlowGateway(agent);
    MeasureBurst(agent);
    MeasureTrickle(agent);
    MeasureHostile(agent);
    MeasureTooLateBox(agent);
    MeasureAddinAndStart(agent, 5);
    MeasureIdle(agent, 10000);
  }
  registration.Unregister();
  OleUninitialize();
  return 0;
}
