#include "agent/outlook/reminder_hand_over.h"

#include <utility>

bool ReminderHandOver::Queue(std::unique_ptr<ReminderRecord> record) {
  // A null window would post to the thread's queue, where no window procedure takes the record.
  if (!record || !target_ || !IsWindow(target_)) return false;
  // Nothing runs between the post and the push that could take the wake-up first.
  if (!PostMessageA(target_, kReminderQueuedMessage, 0, 0)) return false;
  records_.push_back(std::move(record));
  return true;
}

std::unique_ptr<ReminderRecord> ReminderHandOver::Take() {
  if (records_.empty()) return nullptr;
  std::unique_ptr<ReminderRecord> record = std::move(records_.front());
  records_.pop_front();
  return record;
}
