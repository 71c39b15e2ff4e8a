// outlook_bench: measures the hidden agent against the simulator and the stand-in gateway and
// prints the figures (it asserts nothing). Run under Wine from the build folder:
//   wine tools/bench/outlook_bench.exe [reminders]
// 1. Latency from the simulator's Invoke of Reminder to the gateway's receipt of the request,
//    over spaced reminders (each one alone in the agent's queue).
// 2. The duration of the agent's event call beside the cost of the same ten Automation calls made
//    by a bare sink in this process (the floor any handler pays).
// 3. A gateway that takes 2 s per answer: how long the event calls of a burst take meanwhile.
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>
#include <timeapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/win/com_ptr.h"
#include "tests/outlook/hidden_agent.h"
#include "tests/outlook/sim_support.h"
#include "tools/gateway/form.h"

namespace outlook_test {
namespace {

using Clock = std::chrono::steady_clock;

double NowMs() {
  return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

// Follows the simulator's log from another thread and stamps each line when it appears.
class LogFollower {
 public:
  explicit LogFollower(std::wstring path) : path_(std::move(path)), thread_([this] { Run(); }) {}
  ~LogFollower() {
    stop_ = true;
    thread_.join();
  }
  // Arrival time of the first line starting with prefix; negative when not seen.
  double StampOf(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(mu_);
    for (const auto& entry : lines_) {
      if (entry.first.rfind(prefix, 0) == 0) return entry.second;
    }
    return -1;
  }

 private:
  void Run() {
    timeBeginPeriod(1);
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string pending;
    while (!stop_) {
      if (file == INVALID_HANDLE_VALUE) {
        file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
      }
      char buffer[65536];
      DWORD read = 0;
      if (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        const double at = NowMs();
        pending.append(buffer, read);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
          std::lock_guard<std::mutex> lock(mu_);
          lines_.emplace_back(pending.substr(0, end), at);
          pending.erase(0, end + 1);
        }
        continue;
      }
      Sleep(1);
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    timeEndPeriod(1);
  }

  std::wstring path_;
  mutable std::mutex mu_;
  std::vector<std::pair<std::string, double>> lines_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct Stats {
  double min = 0, p10 = 0, median = 0, p90 = 0, max = 0;
  size_t n = 0;
};

Stats StatsOf(std::vector<double> values) {
  Stats s;
  s.n = values.size();
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  const auto at = [&](double q) { return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5)]; };
  s.min = values.front();
  s.p10 = at(0.10);
  s.median = at(0.50);
  s.p90 = at(0.90);
  s.max = values.back();
  return s;
}

void PrintStats(const char* what, const Stats& s) {
  std::printf("  %-46s n=%3zu  min %8.2f  p10 %8.2f  median %8.2f  p90 %8.2f  max %8.2f ms\n", what, s.n, s.min, s.p10,
              s.median, s.p90, s.max);
}

// "ms=<x>" of an Event line.
double EventMs(const std::string& line) {
  const size_t at = line.find(" ms=");
  return at == std::string::npos ? -1 : std::atof(line.c_str() + at + 4);
}

std::vector<double> EventDurations(const std::vector<std::string>& log) {
  std::vector<double> out;
  for (const std::string& line : LinesStartingWith(log, "Event 0xF004")) out.push_back(EventMs(line));
  return out;
}

std::string Items(int count) {
  std::string items;
  for (int i = 1; i <= count; ++i) {
    items += "item r" + std::to_string(i) + " class \"IPM.Appointment.ReminderCall\" subject \"Reminder " +
             std::to_string(i) + "\" location \"Room 4\" body \"Agenda\" prop notifycall text \"555-0100\"\n";
  }
  return items;
}

// Index of the reminder a request belongs to, from its text; 0 when none.
int ReminderOf(const std::string& body) {
  const std::string txt = gateway::FormField(gateway::ParseForm(body), "txt");
  const std::string key = "subject is: Reminder ";
  const size_t at = txt.find(key);
  return at == std::string::npos ? 0 : std::atoi(txt.c_str() + at + key.size());
}

struct Receipts {
  std::mutex mu;
  std::map<int, double> at;  // reminder -> receipt time

  // Notes when each reminder's request reaches the gateway.
  void Follow(gateway::Server& gateway) {
    gateway.OnRequest([this](const gateway::RecordedRequest& r) {
      const double now = NowMs();
      std::lock_guard<std::mutex> lock(mu);
      at[ReminderOf(r.body)] = now;
    });
  }
};

void Latency(int count) {
  std::printf("1. Reminder to gateway, %d reminders fired 100 ms apart\n", count);
  AgentRegistry registry;
  gateway::Server gateway;
  if (!gateway.Start()) return;
  Receipts receipts;
  receipts.Follow(gateway);
  WriteCallSettings(gateway.Port(), "Ann", "Lee", "555-0199");
  std::string fires;
  for (int i = 1; i <= count; ++i) fires += "fire r" + std::to_string(i) + "\nsleep 100ms\n";
  simdriver::SimProcess sim(SimExe());
  if (!StartSim(sim, "version \"16.0.0.1\"\n" + Items(count) + "wait-advise 30s\n" + fires + "note fired\nwait-unadvise 60s\n")) {
    std::printf("  simulator did not start\n");
    return;
  }
  LogFollower follower(sim.LogPath());
  HiddenAgent agent;
  agent.Start();
  if (!gateway.WaitForRequests(static_cast<size_t>(count), 120000) || !sim.WaitForLine("Note fired", 60000)) {
    std::printf("  only %zu requests arrived\n", gateway.RequestCount());
  }
  std::vector<double> latencies;
  for (int i = 1; i <= count; ++i) {
    const double fired = follower.StampOf("Fire 0xF004 Item#r" + std::to_string(i) + " ");
    std::lock_guard<std::mutex> lock(receipts.mu);
    const auto it = receipts.at.find(i);
    if (fired >= 0 && it != receipts.at.end()) latencies.push_back(it->second - fired);
  }
  PrintStats("Invoke of Reminder -> request at the gateway", StatsOf(latencies));
  PrintStats("agent's event call (as timed by Outlook)", StatsOf(EventDurations(sim.Log())));
  DWORD code = 0;
  agent.ExitByItself(20000, &code);
  sim.WaitForExit(20000, nullptr);
}

// A bare sink: inside the event it makes the same ten Automation calls as the agent and times them.
class FloorSink final : public IDispatch {
 public:
  std::vector<double> callsMs;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    static const IID kEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, kEvents)) {
      *object = static_cast<IDispatch*>(this);
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    if (id != 0xF004 || !params || params->cArgs != 1 || params->rgvarg[0].vt != VT_DISPATCH) return DISP_E_MEMBERNOTFOUND;
    IDispatch* item = params->rgvarg[0].pdispVal;
    const double start = NowMs();
    VARIANT v, props, found;
    Get(item, 0x1A, &v);
    VariantClear(&v);
    Get(item, 0x820D, &v);
    Get(item, 0xF816, &props);
    VariantInit(&found);
    if (props.vt == VT_DISPATCH && props.pdispVal) {
      VARIANTARG args[2];
      VariantInit(&args[0]);
      args[0].vt = VT_I2;
      args[0].iVal = 1;
      VariantInit(&args[1]);
      args[1].vt = VT_BSTR;
      args[1].bstrVal = SysAllocString(L"notifycall");
      DISPPARAMS findParams = {args, nullptr, 2, 0};
      props.pdispVal->Invoke(0x67, IID_NULL, 0, DISPATCH_METHOD, &findParams, &found, nullptr, nullptr);
      VariantClear(&args[1]);
      if (found.vt == VT_DISPATCH && found.pdispVal) {
        Get(found.pdispVal, DISPID_VALUE, &v);
        VariantClear(&v);
      }
    }
    for (DISPID text : {0xF01E, 0x37, 0x8208, 0x9100, 0x8501}) {
      Get(item, text, &v);
      VariantClear(&v);
    }
    VariantClear(&found);
    VariantClear(&props);
    callsMs.push_back(NowMs() - start);
    return S_OK;
  }

 private:
  static void Get(IDispatch* object, DISPID id, VARIANT* result) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VariantInit(result);
    object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result, nullptr, nullptr);
  }
};

void Floor(int count) {
  std::printf("2. The same ten Automation calls made by a bare sink in the benchmark process\n");
  std::string fires;
  for (int i = 1; i <= count; ++i) fires += "fire r" + std::to_string(i) + "\nsleep 20ms\n";
  simdriver::SimProcess sim(SimExe());
  if (!StartSim(sim, "version \"16.0.0.1\"\n" + Items(count) + "wait-advise 30s\n" + fires + "note fired\nwait-unadvise 60s\n")) return;
  win::ComPtr<IDispatch> app;
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"Outlook.Application", &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, app.put_void()))) {
    std::printf("  cannot attach to the simulator\n");
    return;
  }
  win::ComPtr<IConnectionPointContainer> container;
  win::ComPtr<IConnectionPoint> point;
  FloorSink sink;
  DWORD cookie = 0;
  app->QueryInterface(IID_IConnectionPointContainer, container.put_void());
  if (!container || FAILED(container->FindConnectionPoint({0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}, point.put())) ||
      FAILED(point->Advise(&sink, &cookie))) {
    std::printf("  cannot advise\n");
    return;
  }
  sim.WaitForLine("Note fired", 120000);
  point->Unadvise(cookie);
  point.reset();
  container.reset();
  app.reset();
  PrintStats("ten calls timed inside the bare sink", StatsOf(sink.callsMs));
  PrintStats("bare sink's event call (as timed by Outlook)", StatsOf(EventDurations(sim.Log())));
  sim.WaitForExit(20000, nullptr);
}

void SlowGateway() {
  const int count = 5;
  std::printf("3. A gateway taking 2 s per answer, %d reminders fired back to back\n", count);
  AgentRegistry registry;
  gateway::Server gateway;
  if (!gateway.Start()) return;
  gateway::Answer slow;
  slow.delayMs = 2000;
  slow.autoId = true;
  gateway.SetAnswer(slow);
  Receipts receipts;
  receipts.Follow(gateway);
  WriteCallSettings(gateway.Port(), "Ann", "Lee", "555-0199");
  std::string fires;
  for (int i = 1; i <= count; ++i) fires += "fire r" + std::to_string(i) + "\n";
  simdriver::SimProcess sim(SimExe());
  if (!StartSim(sim, "version \"16.0.0.1\"\n" + Items(count) + "wait-advise 30s\n" + fires + "note fired\nwait-unadvise 60s\n")) return;
  LogFollower follower(sim.LogPath());
  HiddenAgent agent;
  agent.Start();
  gateway.WaitForRequests(count, 60000);
  sim.WaitForLine("Note fired", 60000);
  Sleep(2500);  // the last answer
  const double first = follower.StampOf("Fire 0xF004 Item#r1 ");
  const std::vector<double> events = EventDurations(sim.Log());
  for (int i = 1; i <= count; ++i) {
    const double fired = follower.StampOf("Fire 0xF004 Item#r" + std::to_string(i) + " ");
    std::lock_guard<std::mutex> lock(receipts.mu);
    const auto it = receipts.at.find(i);
    std::printf("  reminder %d: fired at %8.1f ms, event call %8.2f ms, request at the gateway at %8.1f ms\n", i,
                fired - first, static_cast<size_t>(i - 1) < events.size() ? events[static_cast<size_t>(i - 1)] : -1.0,
                it == receipts.at.end() ? -1.0 : it->second - first);
  }
  DWORD code = 0;
  agent.ExitByItself(20000, &code);
  sim.WaitForExit(20000, nullptr);
}

}  // namespace
}  // namespace outlook_test

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
  if (FAILED(OleInitialize(nullptr))) return 1;
  simdriver::SimProcess registration(outlook_test::SimExe());
  if (!registration.Register()) {
    std::printf("outlook-sim.exe /regserver failed\n");
    return 1;
  }
  outlook_test::Latency(count);
  outlook_test::Floor(count);
  outlook_test::SlowGateway();
  registration.Unregister();
  OleUninitialize();
  return 0;
}
