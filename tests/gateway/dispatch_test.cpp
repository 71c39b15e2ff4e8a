// The dispatcher and the HTTP side at the store's edges, in this process with a store the test
// can hold up: a full disk (a small tmpfs of the test's own) stops the dialling until the store
// can write, an accepted request is answered while a line waits for its claim, and the limits'
// windows run on ticks whatever the wall clock does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "gateway/dispatcher.h"
#include "gateway/http_api.h"
#include "gateway/status_view.h"
#include "tests/gateway/fake_clock.h"
#include "tests/gateway/test_support.h"

namespace gwtest {
namespace {

using talmery::CallRecord;
using talmery::Claim;
using talmery::Instant;

// Waits (polling) until `done` holds or `ms` have passed.
template <typename F>
bool WaitUntil(F done, int ms = 20000) {
  for (int waited = 0; !done(); waited += 10) {
    if (waited >= ms) return false;
    usleep(10000);
  }
  return true;
}

// The real store, with its claims counted and, while held, kept waiting as on a slow disk.
class ProbeStore : public talmery::CallStore {
 public:
  explicit ProbeStore(talmery::CallStore& store) : store_(store) {}
  void HoldClaims(bool hold) {
    std::lock_guard<std::mutex> lock(mu_);
    hold_ = hold;
    cv_.notify_all();
  }
  bool ClaimWaiting() {
    std::lock_guard<std::mutex> lock(mu_);
    return waiting_ > 0;
  }
  int Claims() const { return claims_; }
  int Finishes() const { return finishes_; }

  bool Accept(const talmery::CallRequest& r, int maxAttempts, const Instant& now, long long& id,
              std::string& error) override {
    return store_.Accept(r, maxAttempts, now, id, error);
  }
  Claim ClaimNext(const Instant& now, const std::set<std::string>& skip, int line) override {
    std::unique_lock<std::mutex> lock(mu_);
    ++waiting_;
    cv_.wait(lock, [&] { return !hold_; });
    --waiting_;
    lock.unlock();
    ++claims_;
    return store_.ClaimNext(now, skip, line);
  }
  bool MarkAnswered(long long id, int attempt, const Instant& now, std::string& error) override {
    return store_.MarkAnswered(id, attempt, now, error);
  }
  bool FinishAttempt(long long id, int attempt, const talmery::AttemptEnd& end, const Instant& now,
                     std::string& error) override {
    ++finishes_;
    return store_.FinishAttempt(id, attempt, end, now, error);
  }
  std::vector<CallRecord> CloseInterrupted(const Instant& now, std::string& error) override {
    return store_.CloseInterrupted(now, error);
  }
  std::vector<CallRecord> ExpireWaiting(const Instant& now, long long maxWaitMs, const std::string& reason,
                                        std::string& error) override {
    return store_.ExpireWaiting(now, maxWaitMs, reason, error);
  }
  std::optional<long long> NextDueTick() override { return store_.NextDueTick(); }
  bool Get(long long id, CallRecord& call) override { return store_.Get(id, call); }
  std::vector<CallRecord> Recent(int count) override { return store_.Recent(count); }
  long long CountWaiting() override { return store_.CountWaiting(); }
  std::vector<long long> AcceptedSince(long long sinceTick) override { return store_.AcceptedSince(sinceTick); }

 private:
  talmery::CallStore& store_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool hold_ = false;
  int waiting_ = 0;
  std::atomic<int> claims_{0}, finishes_{0};
};

// A line that notes each call it is given and answers it (or, once told, finds it busy); while
// held, the call goes on until the test lets it end.
class RecordingLine : public talmery::Line {
 public:
  bool Ready(std::string&) override { return true; }
  talmery::Outcome Place(const talmery::DialJob& job, const std::function<void()>& onAnswered) override {
    std::unique_lock<std::mutex> lock(mu_);
    dials_.push_back(job.id);
    cv_.wait(lock, [&] { return !hold_ || aborted_; });
    if (busyOnce_) {
      busyOnce_ = false;
      return {talmery::Result::Busy, false, "486 Busy Here"};
    }
    lock.unlock();
    onAnswered();
    return {talmery::Result::Delivered, true, "end of file"};
  }
  void BusyOnce() {
    std::lock_guard<std::mutex> lock(mu_);
    busyOnce_ = true;
  }
  void Abort() override { Hold(false); }
  void Hold(bool hold) {
    std::lock_guard<std::mutex> lock(mu_);
    hold_ = hold;
    aborted_ = !hold;
    cv_.notify_all();
  }
  std::vector<long long> Dials() {
    std::lock_guard<std::mutex> lock(mu_);
    return dials_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool hold_ = false, aborted_ = false, busyOnce_ = false;
  std::vector<long long> dials_;
};

talmery::CallRequest Request(const std::string& number) {
  talmery::CallRequest r;
  r.number = number;
  r.text = "Reminder for " + number + ".";
  r.firstOcc = 15;
  return r;
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// A log of its own in the test's folder.
struct FileLog {
  explicit FileLog(const std::string& path) : path(path), file(std::fopen(path.c_str(), "w")), log(file) {}
  ~FileLog() { std::fclose(file); }
  std::string Text() const { return ReadFile(path); }
  std::string path;
  FILE* file;
  talmery::EventLog log;
};

std::vector<std::unique_ptr<talmery::Line>> OneLine(RecordingLine*& line) {
  std::vector<std::unique_ptr<talmery::Line>> lines;
  lines.push_back(std::make_unique<RecordingLine>());
  line = static_cast<RecordingLine*>(lines.back().get());
  return lines;
}

// Fills the disk whole; the filler's path.
std::string FillDisk(const std::string& disk) {
  const std::string path = disk + "/filler";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  const std::string block(4096, 'x');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  while (write(fd, "x", 1) > 0) {
  }
  close(fd);
  return path;
}

// A full disk (a small tmpfs in a mount namespace of the test's own), twice: first while a
// retry comes due, then while a call ends. Nothing is dialled while the store cannot write (said
// once each time, and on the status page); once it can, the retry is dialled, the end recorded,
// a request refused meanwhile never rings, and a restart dials nothing again.
TEST(Dispatch, AFullDiskStopsTheDiallingUntilTheStoreCanWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, for a small tmpfs in a mount namespace of the test's own";
  ASSERT_EQ(unshare(CLONE_NEWNS), 0) << std::strerror(errno);
  ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << std::strerror(errno);
  TempDir dir;
  const std::string disk = dir.path() + "/disk";
  ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
  ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m,mode=0700"), 0) << std::strerror(errno);
  FileLog log(dir.path() + "/log");
  FakeClock clock(100000, 1'800'000'000'000);
  talmery::Config config;
  config.retryPause = 60;
  std::string error;
  auto store = talmery::SqliteStore::Open(disk + "/calls.db", clock, error);
  ASSERT_TRUE(store) << error;
  ProbeStore probe(*store);
  long long id = 0, refused = 0;
  ASSERT_TRUE(probe.Accept(Request("5550101"), 3, clock.Now(), id, error)) << error;
  RecordingLine* line = nullptr;
  auto dispatcher = std::make_unique<talmery::Dispatcher>(config, probe, log.log, OneLine(line), clock);
  line->BusyOnce();
  dispatcher->Start();
  CallRecord call;
  ASSERT_TRUE(WaitUntil([&] { return probe.Get(id, call) && call.state == "busy"; })) << log.Text();

  // The retry comes due on a full disk: its claim cannot be recorded, so it is not dialled.
  std::string filler = FillDisk(disk);
  EXPECT_FALSE(probe.Accept(Request("5550103"), 3, clock.Now(), refused, error));
  clock.Pass(60000);
  dispatcher->Wake();
  const int claims = probe.Claims();
  ASSERT_TRUE(WaitUntil([&] { return probe.Claims() >= claims + 3; })) << log.Text();  // tried once a second
  EXPECT_EQ(line->Dials(), std::vector<long long>{id});
  const std::string failing = "event=store state=failing error=\"database or disk is full\" dialling=stopped";
  EXPECT_EQ(Count(log.Text(), failing), 1u) << log.Text();
  EXPECT_NE(talmery::StatusPage({}, {}, 0).find("store: cannot write (database or disk is full): no call is dialled"),
            std::string::npos);

  // Room again: the retry is dialled (and held); the disk fills up while it goes on.
  line->Hold(true);
  ASSERT_EQ(unlink(filler.c_str()), 0);
  ASSERT_TRUE(WaitUntil([&] { return line->Dials().size() == 2; })) << log.Text();
  EXPECT_EQ(Count(log.Text(), "event=store state=writing dialling=resumed"), 1u) << log.Text();
  EXPECT_EQ(talmery::StatusPage({}, {}, 0).find("store:"), std::string::npos);
  filler = FillDisk(disk);
  line->Hold(false);
  const int finishes = probe.Finishes();
  ASSERT_TRUE(WaitUntil([&] { return probe.Finishes() >= finishes + 3; })) << log.Text();
  ASSERT_TRUE(probe.Get(id, call));
  EXPECT_EQ(call.state, "dialling") << "its end is not on disk yet";
  ASSERT_EQ(unlink(filler.c_str()), 0);
  ASSERT_TRUE(WaitUntil([&] { return probe.Get(id, call) && call.state == "done"; })) << log.Text();
  EXPECT_EQ(call.reason, "answered; the message was played");
  EXPECT_EQ(call.attempts, 2);
  EXPECT_EQ(line->Dials(), (std::vector<long long>{id, id}));
  EXPECT_EQ(Count(log.Text(), failing), 2u) << log.Text();
  EXPECT_EQ(probe.Recent(10).size(), 1u) << "the refused request left nothing to dial";

  // A restart on the same store: only a new call is dialled.
  dispatcher.reset();
  store.reset();
  store = talmery::SqliteStore::Open(disk + "/calls.db", clock, error);
  ASSERT_TRUE(store) << error;
  EXPECT_TRUE(store->CloseInterrupted(clock.Now(), error).empty());
  dispatcher = std::make_unique<talmery::Dispatcher>(config, *store, log.log, OneLine(line), clock);
  dispatcher->Start();
  long long next = 0;
  ASSERT_TRUE(store->Accept(Request("5550104"), 3, clock.Now(), next, error)) << error;
  dispatcher->Wake();
  ASSERT_TRUE(WaitUntil([&] { return store->Get(next, call) && call.state == "done"; }));
  EXPECT_EQ(line->Dials(), std::vector<long long>{next});
  dispatcher.reset();
  store.reset();
  talmery::SetGatewayNote("store", "");
  umount2(disk.c_str(), MNT_DETACH);
}

// The HTTP side wakes the lines for each accepted call: the answer does not wait for a line that
// is claiming a call (a claim is a disk write and its fsync; here the test holds it).
TEST(Dispatch, AnAcceptedRequestIsAnsweredWhileALineWaitsForItsClaim) {
  TempDir dir;
  FileLog log(dir.path() + "/log");
  talmery::Config config;
  config.listenPort = 0;
  std::string error;
  auto store = talmery::SqliteStore::Open(dir.path() + "/calls.db", talmery::SystemClock(), error);
  ASSERT_TRUE(store) << error;
  ProbeStore probe(*store);
  probe.HoldClaims(true);
  RecordingLine* line = nullptr;
  talmery::Dispatcher dispatcher(config, probe, log.log, OneLine(line));
  talmery::HttpApi http(config, probe, log.log, [&] { dispatcher.Wake(); });
  ASSERT_TRUE(http.Bind(error)) << error;
  std::thread serving([&] { http.Serve(); });
  dispatcher.Start();
  ASSERT_TRUE(WaitUntil([&] { return probe.ClaimWaiting(); }));

  const auto sent = std::chrono::steady_clock::now();
  const std::string answer = BodyOf(PostCall(http.Port(), CallBody("5550100", "Reminder.")));
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
  EXPECT_EQ(answer, "[1]\r\n");
  EXPECT_TRUE(probe.ClaimWaiting()) << "the claim was let go before the answer";
  std::printf("answered in %.1f ms while a claim was held\n", ms);

  probe.HoldClaims(false);
  EXPECT_TRUE(WaitUntil([&] { return line->Dials() == std::vector<long long>{1}; }));
  http.Stop();
  serving.join();
  dispatcher.Stop(0);
}

// client_rate and daily_calls count on ticks: a wall clock set forward frees no one, set back
// blocks no one, and the day's count read from the store after a restart is on ticks too.
TEST(Limits, WindowsRunOnTicksWhateverTheWallClockDoes) {
  const struct {
    const char* what;
    int clientRate, dailyCalls;
    bool restart;
    long long ticks, wall;  // passed between the second request and the third
    const char* third;
  } cases[] = {
      {"rate, wall clock forward", 2, 0, false, 0, 120000, "ERROR: more than 2 calls a minute from 127.0.0.1: try again in a minute\r\n"},
      {"rate, a minute passes, wall clock back", 2, 0, false, 60000, -3600000, "[3]\r\n"},
      {"day, wall clock forward", 0, 2, false, 0, 2 * 86400000LL, "ERROR: the gateway has taken its 2 calls of the last 24 hours\r\n"},
      {"day, restart, wall clock forward", 0, 2, true, 1000, 2 * 86400000LL,
       "ERROR: the gateway has taken its 2 calls of the last 24 hours\r\n"},
      {"day, restart, a day passes", 0, 2, true, 86400000, 0, "[3]\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    FileLog log(dir.path() + "/log");
    FakeClock clock(500000, 1'800'000'000'000);
    talmery::Config config;
    config.listenPort = 0;
    config.clientRate = c.clientRate;
    config.dailyCalls = c.dailyCalls;
    std::unique_ptr<talmery::SqliteStore> store;
    std::unique_ptr<talmery::HttpApi> http;
    std::thread serving;
    auto start = [&] {
      std::string error;
      store = talmery::SqliteStore::Open(dir.path() + "/calls.db", clock, error);
      ASSERT_TRUE(store) << error;
      http = std::make_unique<talmery::HttpApi>(config, *store, log.log, nullptr, clock);
      ASSERT_TRUE(http->Bind(error)) << error;
      serving = std::thread([&] { http->Serve(); });
    };
    auto stop = [&] {
      http->Stop();
      serving.join();
      http.reset();
      store.reset();
    };
    start();
    EXPECT_EQ(BodyOf(PostCall(http->Port(), CallBody("5550100", "One."))), "[1]\r\n");
    EXPECT_EQ(BodyOf(PostCall(http->Port(), CallBody("5550100", "Two."))), "[2]\r\n");
    if (c.restart) {
      stop();
      start();
    }
    clock.Pass(c.ticks);
    clock.StepWall(c.wall - c.ticks);
    EXPECT_EQ(BodyOf(PostCall(http->Port(), CallBody("5550100", "Three."))), c.third);
    stop();
  }
}

}  // namespace
}  // namespace gwtest
