#include "agent/calls/notice_queue.h"

void NoticeQueue::AddOutcome(const std::string& text, std::function<void()> onRead) {
  for (Notice& notice : pending_) {
    if (notice.outcomes == 0) continue;
    if (notice.outcomes < kMaxOutcomes) {
      notice.text += "\r\n\r\n" + text;
      ++notice.outcomes;
      if (onRead) notice.onRead.push_back(std::move(onRead));
    } else {
      ++overflow_;  // not listed: never read, so its onRead never runs
    }
    return;
  }
  if (pending_.size() < kMaxPending) {
    pending_.push_back(Notice{text, 1, 1, {}});
    if (onRead) pending_.back().onRead.push_back(std::move(onRead));
  } else {
    ++overflow_;
  }
}

void NoticeQueue::Add(const std::string& text) {
  for (Notice& notice : pending_) {
    if (notice.outcomes == 0 && notice.text == text) {
      ++notice.count;
      return;
    }
  }
  if (pending_.size() < kMaxPending) {
    pending_.push_back(Notice{text, 1, 0, {}});
  } else {
    ++overflow_;
  }
}

std::optional<Notice> NoticeQueue::Take() {
  if (!pending_.empty()) {
    Notice next = std::move(pending_.front());
    pending_.pop_front();
    return next;
  }
  if (overflow_ == 0) return std::nullopt;
  Notice note{overflow_ == 1 ? "1 more message about reminder calls was not shown."
                             : std::to_string(overflow_) + " more messages about reminder calls were not shown.",
              1, 0, {}};
  overflow_ = 0;
  return note;
}

std::string NoticeBoxText(const Notice& notice) {
  if (notice.count <= 1) return notice.text;
  return notice.text + "\r\n\r\n(This happened " + std::to_string(notice.count) + " times.)";
}
