#pragma once
// Watches for message boxes with a given caption, in this process or any other, records what
// they say and closes each one with its OK button (at once, or after holding it open for a while,
// as a user away from the desk would), so code under test that shows a modal box does not block
// the test.
#include <windows.h>

#include <condition_variable>
#include <map>
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
  bool topmost = false;  // above every window that is not topmost (WS_EX_TOPMOST)
};

class MessageBoxWatcher {
 public:
  // holdMs: how long each box stays open after it was seen (0: closed at once).
  explicit MessageBoxWatcher(std::string caption, int holdMs = 0);
  ~MessageBoxWatcher();  // stops watching; boxes still open stay open
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  std::vector<SeenBox> Seen() const;  // in the order they were seen
  bool WaitForCount(size_t n, int timeoutMs) const;
  size_t Count() const;
  // The most boxes with the caption that were visible at the same time.
  size_t MostOpenAtOnce() const;

 private:
  void Run();
  void Scan();
  void Handle(HWND box);
  void Close(HWND box);

  const std::string caption_;
  const int holdMs_;
  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::vector<SeenBox> seen_;
  size_t mostOpen_ = 0;
  std::set<HWND> handled_;             // watcher thread only
  std::map<HWND, ULONGLONG> holding_;  // watcher thread only: boxes seen, when to close them
  std::thread thread_;
};

}  // namespace harness
