// Soak: many reminders through the Outlook simulator into one hidden agent. Samples the agent's
// private bytes and handle count from outside (this process) before the first reminder, after
// every batch once the agent is idle again, and at the end; checks that every request arrived in
// order, that nothing was shown, and that the simulator's objects end with the reference counts
// they started with. Prints a markdown table.
//   system_soak [reminders=1000] [batch=100] [agent|floor|floor-nopost]
// "floor" soaks a plain client instead of the agent (the same Automation calls and one bare
// Winsock POST per reminder; "floor-nopost" without the POST), to tell the agent's own memory
// use from that of the platform under it.
// Exit code: 0 flat, 1 a check failed or the growth looks unbounded, 2 the run could not start.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/harness/message_box_watcher.h"
#include "tests/harness/paths.h"
#include "tests/system/agent_copy.h"
#include "tests/system/process_metrics.h"
#include "tests/system/system_paths.h"
#include "tests/system/system_rig.h"

namespace {

using systemtest::NowMs;
using systemtest::ProcessSample;
using systemtest::PumpWhile;

struct Row {
  size_t reminders;
  ProcessSample sample;
  double seconds;
};

// "Refcount <object> external=<n> total=<n>" lines between two markers: object -> external.
std::map<std::string, int> ExternalCounts(const systemtest::LogFollower& log, long from, long to) {
  std::map<std::string, int> counts;
  for (long i = from; i >= 0 && i < to; ++i) {
    const std::string& line = log.Lines()[static_cast<size_t>(i)].text;
    if (line.rfind("Refcount ", 0) != 0) continue;
    const size_t nameEnd = line.find(' ', 9);
    const size_t external = line.find("external=");
    if (nameEnd == std::string::npos || external == std::string::npos) continue;
    counts[line.substr(9, nameEnd - 9)] = std::atoi(line.c_str() + external + 9);
  }
  return counts;
}

double Kb(unsigned long long bytes) { return static_cast<double>(bytes) / 1024.0; }

}  // namespace

int main(int argc, char** argv) {
  const size_t total = argc > 1 ? static_cast<size_t>(std::max(1, std::atoi(argv[1]))) : 1000;
  const size_t batch = argc > 2 ? static_cast<size_t>(std::max(1, std::atoi(argv[2]))) : 100;
  const size_t batches = (total + batch - 1) / batch;
  const std::string subject = argc > 3 ? argv[3] : "agent";
  if (subject != "agent" && subject != "floor" && subject != "floor-nopost") {
    std::fprintf(stderr, "system_soak: unknown subject %s\n", subject.c_str());
    return 2;
  }
  if (FAILED(OleInitialize(nullptr))) return 2;
  simdriver::SimProcess registration(systemtest::OutlookSimExeW());
  if (!registration.Register()) {
    std::fprintf(stderr, "system_soak: outlook-sim.exe /regserver failed\n");
    return 2;
  }
  int status = 0;
  {
    // A copy of its own, so that the host's view finds exactly this agent; made before the rig,
    // so that it is removed only after the rig has ended the agent.
    const systemtest::AgentCopy copy({L"Brisomel"}, L"cadelo");
    systemtest::SystemRig rig;
    harness::MessageBoxWatcher boxes(systemtest::kAgentCaption);
    if (!rig.Ok()) return 2;

    // Each batch waits at a gate until the agent is idle and sampled; the gates stay advised
    // (unadvising while the simulator fires would change its sink list under it) and are all
    // closed during the final sleep, before the closing reference counts.
    std::string script = "version \"16.0.0.1\"\n" + systemtest::ReminderItem("1", "soak", "555-0100") +
                         "wait-advise 60s 1\nrefcounts\nnote start\n";
    for (size_t b = 0; b < batches; ++b) {
      const size_t count = std::min(batch, total - b * batch);
      script += "wait-advise 600s " + std::to_string(2 + b) + "\nburst 1 " + std::to_string(count) + "\n";
    }
    script += "wait-advise 600s " + std::to_string(2 + batches) + "\nnote closing\nsleep 3s\nrefcounts\nnote end\n";
    const std::string floor = harness::WinePath(FLOOR_AGENT_EXE);
    const bool started =
        copy.Ok() && rig.StartOutlook(script) &&
        (subject == "agent" ? rig.StartAgentFrom(copy.AnsiPath())
                            : rig.StartClient(floor, "\"" + floor + "\" " + std::to_string(rig.Gateway().Port()) +
                                                         (subject == "floor-nopost" ? " nopost" : "")));
    if (!started) {
      std::fprintf(stderr, "system_soak: the agent did not connect to the simulator\n");
      return 2;
    }
    systemtest::LogFollower& log = rig.OutlookLog();
    const long startMark = log.WaitFor("Note start", 10000);
    systemtest::ProcessSampler sampler(rig.Agent().Handle(), rig.Agent().Pid(),
                                       subject == "agent" ? copy.UniqueTail() : floor.substr(2));

    std::vector<Row> rows;
    PumpWhile([] { return false; }, 500);
    const double began = NowMs();
    rows.push_back({0, sampler.Sample(), 0});
    for (size_t b = 0; b < batches; ++b) {
      const size_t expected = std::min(total, (b + 1) * batch);
      if (!rig.OpenGate()) {
        std::fprintf(stderr, "system_soak: gate %zu did not open\n", b + 1);
        status = 1;
        break;
      }
      const size_t expectedHere = subject == "floor-nopost" ? 0 : expected;
      const bool arrived = PumpWhile(
          [&] {
            log.Poll();
            return log.Count("Event 0xF004 Item#1 cookie=1 ") >= expected && rig.Gateway().RequestCount() >= expectedHere;
          },
          120000, 50);
      if (!arrived) {
        std::fprintf(stderr, "system_soak: batch %zu did not finish (%zu requests)\n", b + 1, rig.Gateway().RequestCount());
        status = 1;
        break;
      }
      PumpWhile([&] { return rig.Gateway().AnsweredCount() >= expectedHere; }, 10000);
      PumpWhile([] { return false; }, 300);  // the agent closes its handles after the answer
      rows.push_back({expected, sampler.Sample(), (NowMs() - began) / 1000});
    }
    rig.OpenGate();
    log.WaitFor("Note closing", 30000);
    rig.CloseGates();
    const long endMark = log.WaitFor("Note end", 30000);
    PumpWhile([] { return false; }, 1000);
    rows.push_back({rig.Gateway().RequestCount(), sampler.Sample(), (NowMs() - began) / 1000});

    // The table.
    std::printf("Subject: %s. Private bytes from %s, handles from %s.\n\n", subject == "agent" ? "the agent" : subject.c_str(), rows[0].sample.privateSource, rows[0].sample.handleSource);
    std::printf("| Reminders | Private bytes (KB) | Handles | Working set (KB) | Elapsed (s) |\n");
    std::printf("|---:|---:|---:|---:|---:|\n");
    for (const Row& row : rows) {
      std::printf("| %zu | %.0f | %lu | %.0f | %.1f |\n", row.reminders, Kb(row.sample.privateBytes),
                  static_cast<unsigned long>(row.sample.handles), Kb(row.sample.workingSetBytes), row.seconds);
    }

    // Checks.
    std::vector<std::string> problems;
    const size_t requests = rig.Gateway().RequestCount();
    const size_t expectedRequests = subject == "floor-nopost" ? 0 : total;
    if (requests != expectedRequests) problems.push_back(std::to_string(requests) + " requests arrived, not " + std::to_string(expectedRequests));
    for (const auto& request : rig.Gateway().Requests()) {
      if (systemtest::PhoneOf(request) != "5550100") {  // the item's number, dialled
        problems.push_back("a request with phoneno " + systemtest::PhoneOf(request));
        break;
      }
    }
    if (boxes.Count() != 0) problems.push_back(std::to_string(boxes.Count()) + " message boxes: " + boxes.Seen()[0].text);
    size_t failedEvents = 0, agentEvents = 0;
    for (const auto& line : log.Lines()) {
      if (line.text.rfind("Event 0xF004 ", 0) != 0 || line.text.find(" cookie=1 ") == std::string::npos) continue;
      ++agentEvents;
      failedEvents += line.text.find(" hr=0x00000000 ") == std::string::npos;
    }
    if (agentEvents != total || failedEvents) {
      problems.push_back(std::to_string(agentEvents) + " events, " + std::to_string(failedEvents) + " failed");
    }
    const auto before = ExternalCounts(log, 0, startMark);
    const auto after = ExternalCounts(log, startMark, endMark);
    std::printf("\nReferences held by clients (the simulator's `refcounts`, `external=`):\n\n");
    std::printf("| Object | Before the first reminder | After the last |\n|---|---:|---:|\n");
    for (const auto& entry : after) {
      const auto it = before.find(entry.first);
      const int was = it == before.end() ? 0 : it->second;
      std::printf("| %s | %d | %d |\n", entry.first.c_str(), was, entry.second);
      // The lent item and what the agent read through it must be back where they were.
      if (entry.second != was) problems.push_back("reference count of " + entry.first + " changed");
    }
    if (after.empty()) problems.push_back("no closing reference counts");

    // Flatness: from the first batch (warm-up done) to the end.
    if (rows.size() >= 4 && rows[1].sample.ok) {
      const ProcessSample& warm = rows[1].sample;
      const ProcessSample& last = rows.back().sample;
      const double grownBytes = static_cast<double>(last.privateBytes) - static_cast<double>(warm.privateBytes);
      const double growth = 100.0 * grownBytes / static_cast<double>(warm.privateBytes);
      const double perReminder = grownBytes / static_cast<double>(rows.back().reminders - rows[1].reminders);
      const long handleGrowth = static_cast<long>(last.handles) - static_cast<long>(warm.handles);
      size_t rises = 0;
      const size_t intervals = rows.size() - 3;  // the last row repeats the end after the pause
      for (size_t i = 2; i + 1 < rows.size(); ++i) rises += rows[i].sample.privateBytes > rows[i - 1].sample.privateBytes;
      if (subject != "floor-nopost") {
        std::printf("\nAll %zu requests arrived: %s.", total, requests == total ? "yes" : "NO");
      }
      std::printf("\nGrowth from the warm-up (%zu reminders) to the end: private bytes %+.0f KB (%+.1f %%, %.0f bytes "
                  "per reminder; it rose in %zu of %zu intervals), handles %+ld.\n",
                  rows[1].reminders, grownBytes / 1024, growth, perReminder, rises, intervals, handleGrowth);
      // Unbounded: large against the process, or a kilobyte and more for every reminder, or handles.
      const bool unbounded = growth > 10.0 || perReminder > 1024 || handleGrowth > 20;
      const bool steady = growth > 0.25 && rises * 4 >= intervals * 3;
      if (unbounded) {
        std::printf("Verdict: GROWING without bound\n");
        status = 1;
      } else if (steady) {
        std::printf("Verdict: steady slow growth of about %.0f bytes per reminder\n", perReminder);
      } else {
        std::printf("Verdict: flat\n");
      }
    } else {
      problems.push_back("the agent could not be sampled from outside");
    }
    for (const std::string& problem : problems) std::printf("PROBLEM: %s\n", problem.c_str());
    if (!problems.empty()) status = 1;
  }
  registration.Unregister();
  OleUninitialize();
  return status;
}
