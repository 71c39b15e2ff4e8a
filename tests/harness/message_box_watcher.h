#pragma once
// Watches for message boxes with a given caption, in this process or any other, records what
// they say and closes each one with its OK button, so code under test that shows a modal box
// does not block the test.
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace harness {

struct SeenBox {
  std::string caption;
  std::string text;  // the static control 0xFFFF
  DWORD pid = 0;     // process that showed the box
};

class MessageBoxWatcher {
 public:
  explicit MessageBoxWatcher(std::string caption);
  ~MessageBoxWatcher();  // stops watching; boxes still open stay open
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  std::vector<SeenBox> Seen() const;  // in the order they were closed
  bool WaitForCount(size_t n, int timeoutMs) const;
  size_t Count() const;

 private:
  void Run();
  void Scan();
  void Handle(HWND box);

  const std::string caption_;
  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::vector<SeenBox> seen_;
  std::set<HWND> handled_;  // watcher thread only
  std::thread thread_;
};

}  // namespace harness
