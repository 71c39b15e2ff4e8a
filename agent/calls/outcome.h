#pragma once
// What an operation on the reminder path came to: done, or not done with the exact text the user
// is to read. The operations show nothing themselves; the shell tells the user through its
// notifier, so each operation runs and is tested without a window watcher.
#include <string>
#include <utility>

class [[nodiscard]] Outcome {
 public:
  static Outcome Done() { return Outcome(); }
  static Outcome Failed(std::string message) {
    Outcome outcome;
    outcome.failed_ = true;
    outcome.message_ = std::move(message);
    return outcome;
  }

  bool Ok() const { return !failed_; }
  explicit operator bool() const { return !failed_; }
  // Empty when done.
  const std::string& Message() const { return message_; }

 private:
  bool failed_ = false;
  std::string message_;
};
