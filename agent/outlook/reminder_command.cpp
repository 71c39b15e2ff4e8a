#include "agent/outlook/reminder_command.h"

#include "agent/framework/main_window.h"

bool PostReminderRecord(std::unique_ptr<ReminderRecord> record) {
  const HWND window = fw::GetMainWindowHandle();
  // A null window would post to the thread's queue, where no window procedure frees the record.
  if (!window || !IsWindow(window)) return false;
  if (!PostMessageA(window, WM_COMMAND, kReminderCommandId, reinterpret_cast<LPARAM>(record.get()))) return false;
  record.release();  // now the receiver's
  return true;
}
