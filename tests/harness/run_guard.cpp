// Linked into every Wine test program, for the tests that get cut off. Before the first test it
// ends what an earlier, cut-off test left running (see leftovers.h) and says so. While a test
// runs, a watchdog ends it shortly before ctest's limit (BRISOMEL_TEST_TIMEOUT, in seconds, set by
// the build for each test): ctest's kill takes the test's unflushed output and none of its
// children, so the watchdog says which test it ends, ends what the test started, and only then
// ends the test, with exit code 3.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "tests/harness/leftovers.h"

namespace {

constexpr ULONGLONG kMarginMs = 15000;  // the ending itself needs a few seconds under Wine

// gtest deletes its listeners while the program exits, with other threads still running: the
// watchdog's thread ends before its listener does, or it would wake into freed members.
class Watchdog : public ::testing::EmptyTestEventListener {
 public:
  explicit Watchdog(ULONGLONG limitMs) : limitMs_(limitMs), thread_([this] { Run(); }) {}
  ~Watchdog() override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void OnTestStart(const ::testing::TestInfo& test) override {
    std::lock_guard<std::mutex> lock(mu_);
    name_ = std::string(test.test_suite_name()) + "." + test.name();
    startedMs_ = GetTickCount64();
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    std::lock_guard<std::mutex> lock(mu_);
    startedMs_ = 0;
  }

 private:
  void Run() {
    for (;;) {
      std::string name;
      ULONGLONG ranMs = 0;
      {
        std::unique_lock<std::mutex> lock(mu_);
        if (wake_.wait_for(lock, std::chrono::milliseconds(500), [this] { return stopping_; })) return;
        if (startedMs_ == 0) continue;
        ranMs = GetTickCount64() - startedMs_;
        name = name_;
      }
      if (ranMs < limitMs_) continue;
      std::printf("[ watchdog ] %s still runs after %llu s, close to ctest's limit: ending it\n", name.c_str(),
                  ranMs / 1000);
      for (const std::string& image : harness::EndLeftoversOfEarlierTests()) {
        std::printf("[ watchdog ] ended %s, started by the test\n", image.c_str());
      }
      std::fflush(stdout);
      TerminateProcess(GetCurrentProcess(), 3);
    }
  }

  const ULONGLONG limitMs_;
  std::mutex mu_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::string name_;
  ULONGLONG startedMs_ = 0;
  std::thread thread_;  // last: it starts once the members it reads exist
};

class RunGuard : public ::testing::Environment {
 public:
  void SetUp() override {
    for (const std::string& image : harness::EndLeftoversOfEarlierTests()) {
      std::printf("[ leftover ] ended %s, left running by an earlier test\n", image.c_str());
    }
    std::fflush(stdout);
    const char* limit = std::getenv("BRISOMEL_TEST_TIMEOUT");
    const ULONGLONG limitMs = limit ? std::strtoull(limit, nullptr, 10) * 1000 : 0;
    if (limitMs > 2 * kMarginMs) {
      // gtest owns and deletes the listener.
      ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog(limitMs - kMarginMs));
    }
  }
};

const auto* const kGuard = ::testing::AddGlobalTestEnvironment(new RunGuard);

}  // namespace
