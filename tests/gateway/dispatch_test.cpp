// The dispatcher and the HTTP side at the store's edges, in this process: a full disk (a small
// tmpfs of the test's own) stops the dialling until the store can write, an accepted request is
// answered while a line waits for its claim, and the limits' windows run on ticks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "gateway/dispatcher.h"
#include "gateway/http_api.h"
#include "gateway/sqlite_store.h"
#include "gateway/status_view.h"
#include "tests/gateway/fake_clock.h"
#include "tests/gateway/test_support.h"

namespace gwtest {
namespace {

using namespace talmery;

// The real store, its claims and ends counted; while the test holds `gate`, a claim waits as on
// a slow disk.
class ProbeStore : public CallStore {
 public:
  explicit ProbeStore(CallStore& s) : s_(s) {}
  std::mutex gate;
  std::atomic<int> claims{0}, finishes{0}, waiting{0};

  Written Accept(const CallRequest& r, const std::string& from, int n, const Instant& t, long long& id,
                 std::string& e) override {
    return s_.Accept(r, from, n, t, id, e);
  }
  Claim ClaimNext(const Instant& t, const std::set<std::string>& skip, int line) override {
    ++waiting;
    { std::lock_guard<std::mutex> held(gate); }
    --waiting;
    ++claims;
    return s_.ClaimNext(t, skip, line);
  }
  Written MarkAnswered(long long id, int a, const Instant& t, std::string& e) override {
    return s_.MarkAnswered(id, a, t, e);
  }
  Written FinishAttempt(long long id, int a, const AttemptEnd& end, const Instant& t, std::string& e) override {
    ++finishes;
    return s_.FinishAttempt(id, a, end, t, e);
  }
  std::vector<CallRecord> CloseInterrupted(const Instant& t, std::string& e) override {
    return s_.CloseInterrupted(t, e);
  }
  std::vector<CallRecord> ExpireWaiting(const Instant& t, long long ms, const std::string& r, std::string& e) override {
    return s_.ExpireWaiting(t, ms, r, e);
  }
  std::optional<long long> NextDueTick() override { return s_.NextDueTick(); }
  bool Get(long long id, CallRecord& c) override { return s_.Get(id, c); }
  std::vector<CallRecord> Recent(int n) override { return s_.Recent(n); }
  long long CountWaiting() override { return s_.CountWaiting(); }
  std::vector<long long> AcceptedSince(long long tick) override { return s_.AcceptedSince(tick); }
  StoreFigures Figures(const Instant& t) override { return s_.Figures(t); }

 private:
  CallStore& s_;
};

// A line that notes each call and answers it (or finds it busy, once told); held, a call goes
// on until the test lets it end.
class RecordingLine : public Line {
 public:
  bool Ready(std::string&) override { return true; }
  TryEnd Place(const DialJob& job, const std::function<void()>& onAnswered) override {
    std::unique_lock<std::mutex> lock(mu_);
    dials_.push_back(job.id);
    cv_.wait(lock, [&] { return !hold_; });
    if (std::exchange(busyOnce_, false)) {
      TryEnd busy;
      busy.ending = Ending::SipStatus;
      busy.status = 486;
      busy.detail = "Busy Here";
      return busy;
    }
    lock.unlock();
    onAnswered();
    TryEnd played;
    played.ending = Ending::Played;
    played.answered = true;
    return played;
  }
  void Abort() override { Hold(false); }
  void Hold(bool hold, bool busyOnce = false) {
    std::lock_guard<std::mutex> lock(mu_);
    hold_ = hold;
    busyOnce_ = busyOnce;
    cv_.notify_all();
  }
  std::vector<long long> Dials() {
    std::lock_guard<std::mutex> lock(mu_);
    return dials_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool hold_ = false, busyOnce_ = false;
  std::vector<long long> dials_;
};

std::unique_ptr<Dispatcher> Dispatch(CallStore& store, EventLog& log, RecordingLine*& line,
                                     const GatewayClock& clock = SystemClock()) {
  static const Config config;
  std::vector<std::unique_ptr<Line>> lines;
  lines.push_back(std::make_unique<RecordingLine>());
  line = static_cast<RecordingLine*>(lines.back().get());
  return std::make_unique<Dispatcher>(config, store, log, std::move(lines), clock);
}

CallRequest Request(const std::string& number) { return {number, "Reminder.", false, 15, ""}; }

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// Fills the disk whole; the filler's path.
std::string FillDisk(const std::string& disk) {
  const std::string path = disk + "/filler", block(4096, 'x');
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  while (write(fd, block.data(), block.size()) > 0 || write(fd, "x", 1) > 0) {
  }
  close(fd);
  return path;
}

// Twice a full disk: while a retry comes due, and while a call ends. Nothing is dialled until
// the store can write (said once each time, and on the status page); then the retry is dialled
// once, the end is recorded, and a request refused meanwhile never rings.
TEST(Dispatch, AFullDiskStopsTheDiallingUntilTheStoreCanWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, for a small tmpfs in a mount namespace of the test's own";
  ASSERT_EQ(unshare(CLONE_NEWNS), 0) << std::strerror(errno);
  ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << std::strerror(errno);
  TempDir dir;
  const std::string disk = dir.path() + "/disk", logPath = dir.path() + "/log";
  ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
  ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m,mode=0700"), 0) << std::strerror(errno);
  FILE* logFile = std::fopen(logPath.c_str(), "w");
  EventLog log(logFile);
  FakeClock clock(100000, 1'800'000'000'000);
  std::string error;
  auto store = SqliteStore::Open(disk + "/calls.db", clock, error);
  ASSERT_TRUE(store) << error;
  ProbeStore probe(*store);
  long long id = 0, refused = 0;
  ASSERT_EQ(probe.Accept(Request("5550101"), "", 3, clock.Now(), id, error), Written::Done) << error;
  RecordingLine* line = nullptr;
  auto dispatcher = Dispatch(probe, log, line, clock);
  line->Hold(false, true);
  dispatcher->Start();
  CallRecord call;
  ASSERT_TRUE(WaitUntil([&] { return probe.Get(id, call) && call.state == "busy"; }, 20000));

  std::string filler = FillDisk(disk);
  EXPECT_EQ(probe.Accept(Request("5550103"), "", 3, clock.Now(), refused, error), Written::Failed);
  clock.Pass(60000);  // the retry is due
  dispatcher->Wake();
  const int claims = probe.claims;
  ASSERT_TRUE(WaitUntil([&] { return probe.claims >= claims + 3; }, 20000));  // tried once a second
  EXPECT_EQ(line->Dials(), std::vector<long long>{id});
  const std::string failing = "event=store state=failing error=\"database or disk is full\" dialling=stopped";
  EXPECT_EQ(Count(ReadFile(logPath), failing), 1u) << ReadFile(logPath);
  EXPECT_NE(StatusPage({}, {}, 0).find("store: cannot write (database or disk is full): no call is dialled"),
            std::string::npos);

  line->Hold(true);
  ASSERT_EQ(unlink(filler.c_str()), 0);
  ASSERT_TRUE(WaitUntil([&] { return line->Dials().size() == 2; }, 20000));
  EXPECT_EQ(Count(ReadFile(logPath), "event=store state=writing dialling=resumed"), 1u) << ReadFile(logPath);
  EXPECT_EQ(StatusPage({}, {}, 0).find("store:"), std::string::npos);
  filler = FillDisk(disk);
  line->Hold(false);  // the call ends on a full disk
  const int finishes = probe.finishes;
  ASSERT_TRUE(WaitUntil([&] { return probe.finishes >= finishes + 3; }, 20000));
  ASSERT_TRUE(probe.Get(id, call));
  EXPECT_EQ(call.state, "dialling") << "its end is not on disk yet";
  ASSERT_EQ(unlink(filler.c_str()), 0);
  ASSERT_TRUE(WaitUntil([&] { return probe.Get(id, call) && call.state == "done"; }, 20000)) << ReadFile(logPath);
  EXPECT_EQ(call.reason, "answered; the message was played");
  EXPECT_EQ(line->Dials(), (std::vector<long long>{id, id}));
  EXPECT_EQ(Count(ReadFile(logPath), failing), 2u);
  EXPECT_EQ(probe.Recent(10).size(), 1u) << "the refused request left nothing to dial";
  dispatcher.reset();
  SetGatewayNote("store", "");
  std::fclose(logFile);
  store.reset();
  umount2(disk.c_str(), MNT_DETACH);
}

// The HTTP side wakes the lines for each accepted call: its answer does not wait for a line that
// is claiming a call (a disk write and its fsync; here held by the test).
TEST(Dispatch, AnAcceptedRequestIsAnsweredWhileALineWaitsForItsClaim) {
  TempDir dir;
  EventLog log(stderr);
  Config config;
  config.listenPort = 0;
  std::string error;
  auto store = SqliteStore::Open(dir.path() + "/calls.db", SystemClock(), error);
  ASSERT_TRUE(store) << error;
  ProbeStore probe(*store);
  probe.gate.lock();
  RecordingLine* line = nullptr;
  auto dispatcher = Dispatch(probe, log, line);
  HttpApi http(config, probe, log, [&] { dispatcher->Wake(); });
  ASSERT_TRUE(http.Bind(error)) << error;
  std::thread serving([&] { http.Serve(); });
  dispatcher->Start();
  ASSERT_TRUE(WaitUntil([&] { return probe.waiting > 0; }, 20000));

  const auto sent = std::chrono::steady_clock::now();
  EXPECT_EQ(BodyOf(PostCall(http.Port(), CallBody("5550100", "Reminder."))), "[1]\r\n");
  std::printf("answered in %.1f ms while a claim was held\n",
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count());
  EXPECT_GT(probe.waiting, 0) << "the claim was let go before the answer";
  probe.gate.unlock();
  EXPECT_TRUE(WaitUntil([&] { return line->Dials() == std::vector<long long>{1}; }, 20000));
  http.Stop();
  serving.join();
}

// A line whose callee presses 2 whenever the call offers it, and else hears the message out.
class SnoozingLine : public Line {
 public:
  bool Ready(std::string&) override { return true; }
  TryEnd Place(const DialJob& job, const std::function<void()>& onAnswered) override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      offered_.push_back(job.snoozeOffered);
    }
    onAnswered();
    TryEnd end;
    end.ending = job.snoozeOffered ? Ending::Snoozed : Ending::Played;
    end.seconds = 5 * 60;
    end.answered = true;
    end.answerer = Answerer::Person;
    return end;
  }
  void Abort() override {}
  std::vector<bool> Offered() {
    std::lock_guard<std::mutex> lock(mu_);
    return offered_;
  }

 private:
  std::mutex mu_;
  std::vector<bool> offered_;
};

// Key 2 puts a call off by snooze_minutes, `snoozes` times at most, and never to after the
// appointment's start; snoozes use up no tries (one try here, three calls placed).
TEST(Dispatch, ASnoozedCallComesAgainAfterItsMinutesAtMostSnoozesTimes) {
  TempDir dir;
  EventLog log(stderr);
  FakeClock clock(100000, 1'800'000'000'000);
  std::string error;
  auto store = SqliteStore::Open(dir.path() + "/calls.db", clock, error);
  ASSERT_TRUE(store) << error;
  Config config;
  config.maxCallTime = 60;
  config.snoozeMinutes = 5;
  config.snoozes = 2;
  long long later = 0, soon = 0;
  ASSERT_EQ(store->Accept({"5550101", "Reminder.", false, 30, ""}, "", 1, clock.Now(), later, error), Written::Done);
  std::vector<std::unique_ptr<Line>> lines;
  lines.push_back(std::make_unique<SnoozingLine>());
  SnoozingLine* line = static_cast<SnoozingLine*>(lines.back().get());
  Dispatcher dispatcher(config, *store, log, std::move(lines), clock);
  dispatcher.Start();
  CallRecord call;
  const char* reasons[] = {"answered by a person; to be called again in 5 minutes (key 2), snooze 1 of 2",
                           "answered by a person; to be called again in 5 minutes (key 2), snooze 2 of 2"};
  for (const char* reason : reasons) {
    ASSERT_TRUE(WaitUntil([&] { return store->Get(later, call) && call.state == "snoozed" && call.reason == reason; },
                          20000))
        << call.reason;
    ASSERT_TRUE(call.nextMs.has_value());
    EXPECT_EQ(*call.nextMs, call.updatedMs + 5 * 60000);
    clock.Pass(5 * 60000 - 1);
    dispatcher.Wake();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(store->Get(later, call));
    EXPECT_EQ(call.state, "snoozed") << "not before its minutes";
    clock.Pass(1);
    dispatcher.Wake();
  }
  ASSERT_TRUE(WaitUntil([&] { return store->Get(later, call) && call.state == "done"; }, 20000)) << call.reason;
  EXPECT_EQ(call.reason, "answered by a person; the message was played");
  EXPECT_EQ(call.attempts, 3);
  EXPECT_EQ(call.history.at(0).outcome, "snoozed");
  EXPECT_EQ(call.history.at(0).answerer, "person");
  // An appointment 5 minutes off: a snooze would call after it began.
  ASSERT_EQ(store->Accept({"5550102", "Reminder.", false, 5, ""}, "", 1, clock.Now(), soon, error), Written::Done);
  dispatcher.Wake();
  ASSERT_TRUE(WaitUntil([&] { return store->Get(soon, call) && call.state == "done"; }, 20000)) << call.reason;
  EXPECT_EQ(line->Offered(), (std::vector<bool>{true, true, false, false}));
}

// client_rate and daily_calls count on ticks: a wall clock set forward frees no one, set back
// blocks no one, and the day's count read from the store at a restart is on ticks too.
TEST(Limits, WindowsRunOnTicksWhateverTheWallClockDoes) {
  const struct {
    int clientRate, dailyCalls;
    bool restart;
    long long ticks, wall;  // passed between the second request and the third
    const char* third;
  } cases[] = {
      {2, 0, false, 0, 120000, "ERROR: more than 2 calls a minute from 127.0.0.1: try again in a minute\r\n"},
      {2, 0, false, 60000, -3600000, "[3]\r\n"},
      {0, 2, true, 1000, 2 * 86400000LL, "ERROR: the gateway has taken its 2 calls of the last 24 hours\r\n"},
      {0, 2, true, 86400000, 0, "[3]\r\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    EventLog log(stderr);
    FakeClock clock(500000, 1'800'000'000'000);
    Config config;
    config.listenPort = 0;
    config.clientRate = c.clientRate;
    config.dailyCalls = c.dailyCalls;
    std::string answers;
    const int runs = c.restart ? 2 : 1;
    for (int run = 0; run < runs; ++run) {
      std::string error;
      auto store = SqliteStore::Open(dir.path() + "/calls.db", clock, error);
      ASSERT_TRUE(store) << error;
      HttpApi http(config, *store, log, nullptr, clock);
      ASSERT_TRUE(http.Bind(error)) << error;
      std::thread serving([&] { http.Serve(); });
      const auto post = [&] { answers += BodyOf(PostCall(http.Port(), CallBody("5550100", "Hi."))); };
      if (run == 0) {
        post();
        post();
      }
      if (run == runs - 1) {
        clock.Pass(c.ticks);
        clock.StepWall(c.wall - c.ticks);
        post();
      }
      http.Stop();
      serving.join();
    }
    EXPECT_EQ(answers, std::string("[1]\r\n[2]\r\n") + c.third) << c.clientRate << " " << c.ticks << " " << c.wall;
  }
}

// Every refusal is held against its address on the ticks the page's hours age on, whatever the
// wall clock says: after a day the page has forgotten them, of every kind.
TEST(Limits, RefusalsOfEveryKindAgeOffThePageOnTicks) {
  TempDir dir;
  EventLog log(stderr);
  FakeClock clock(500000, 1'800'000'000'000);
  Config config;
  config.listenPort = 0;
  std::string error;
  ASSERT_TRUE(ParseConfigText("clients = 127.0.0.1\nmetrics_clients = 127.0.0.2\n", config, error)) << error;
  auto store = SqliteStore::Open(dir.path() + "/calls.db", clock, error);
  ASSERT_TRUE(store) << error;
  HttpApi http(config, *store, log, nullptr, clock);
  ASSERT_TRUE(http.Bind(error)) << error;
  std::thread serving([&] { http.Serve(); });
  const std::string page = "GET / HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n\r\n";
  const std::string badFraming =
      "POST /ocall/callreqHandler.jsp HTTP/1.1\r\nHost: gw\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n"
      "0\r\n\r\n";
  ExchangeFrom("127.0.0.1", http.Port(), "GET /metrics HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n\r\n");
  ExchangeFrom("127.0.0.1", http.Port(), badFraming);
  ExchangeFrom("127.0.0.2", http.Port(), page);  // a scraper is no client
  const std::string before = BodyOf(ExchangeFrom("127.0.0.1", http.Port(), page));
  EXPECT_NE(before.find("<tr><td>127.0.0.1</td><td>0</td><td>2</td></tr>"), std::string::npos) << before;
  EXPECT_NE(before.find("<tr><td>127.0.0.2</td><td>0</td><td>1</td></tr>"), std::string::npos) << before;
  clock.Pass(25LL * 3600 * 1000);
  const std::string after = BodyOf(ExchangeFrom("127.0.0.1", http.Port(), page));
  EXPECT_NE(after.find("<h2>Clients, last 24 hours</h2>\n<p>No requests.</p>"), std::string::npos) << after;
  http.Stop();
  serving.join();
}

}  // namespace
}  // namespace gwtest
