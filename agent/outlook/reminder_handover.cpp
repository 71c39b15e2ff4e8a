#include "agent/outlook/reminder_handover.h"

#include <deque>

#include "agent/framework/win_app.h"

namespace {

// Both ends run on the user-interface thread: the event handler queues, the main window takes.
std::deque<std::unique_ptr<ReminderRecord>>& Queue() {
  static std::deque<std::unique_ptr<ReminderRecord>> queue;
  return queue;
}

}  // namespace

bool HandOverReminderRecord(std::unique_ptr<ReminderRecord> record) {
  const HWND window = fw::GetMainWindowHandle();
  // A null window would post to the thread's queue, where no window procedure takes the record.
  if (!record || !window || !IsWindow(window)) return false;
  // Nothing runs between the post and the push that could take the wake-up first.
  if (!PostMessageA(window, kReminderQueuedMessage, 0, 0)) return false;
  Queue().push_back(std::move(record));
  return true;
}

std::unique_ptr<ReminderRecord> TakeReminderRecord() {
  if (Queue().empty()) return nullptr;
  std::unique_ptr<ReminderRecord> record = std::move(Queue().front());
  Queue().pop_front();
  return record;
}
