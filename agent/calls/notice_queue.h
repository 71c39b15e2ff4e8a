#pragma once
// The messages waiting for the user while a box is up: repeats of one text are combined into one
// notice that says how many times it came, and only a few distinct texts are kept, so that a
// gateway down for an hour gives a handful of readable boxes rather than hundreds.
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct Notice {
  std::string text;
  size_t count = 1;
  size_t outcomes = 0;  // a notice of call outcomes: how many it lists
  // Run once the user has closed the box (not when the box went with the agent).
  std::vector<std::function<void()>> onRead;
};

class NoticeQueue {
 public:
  static constexpr size_t kMaxPending = 5;  // distinct texts waiting

  static constexpr size_t kMaxOutcomes = 10;  // outcomes listed in one box

  void Add(const std::string& text);
  // The outcome of a call: outcomes that come while a box is up are listed together in the next
  // box (one box for all that is new, not one each), kMaxOutcomes at most, the rest counted.
  // onRead (may be empty) is run once the user has closed the box that lists it.
  void AddOutcome(const std::string& text, std::function<void()> onRead = nullptr);
  bool Empty() const { return pending_.empty() && overflow_ == 0; }
  // The oldest notice first; after the last one, a note on how many were left out (if any).
  std::optional<Notice> Take();

 private:
  std::deque<Notice> pending_;
  size_t overflow_ = 0;  // messages left out while kMaxPending texts were waiting
};

// The text of a notice's box: its text, and after a blank line how many times it came when it
// came more than once.
std::string NoticeBoxText(const Notice& notice);
