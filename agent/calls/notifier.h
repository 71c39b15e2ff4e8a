#pragma once
// The agent's messages to the user, shown by a thread of their own, one box at a time. Whoever has
// something to say queues it and goes on at once: no box is ever shown inside an Outlook event
// call, none inside another, and a box waiting for the user holds up no later call. The boxes
// have no owner (the hidden agent has no window to show), so they come to the front and stay on
// top, above Outlook.
#include <windows.h>

#include <functional>
#include <string>

#include "agent/calls/notice_queue.h"
#include "common/win/sync.h"

constexpr char kNoticeCaption[] = "Brisomel";
// MB_SYSTEMMODAL gives an ownerless box nothing but WS_EX_TOPMOST, as MB_TOPMOST does; Wine
// honours only the former, so both are asked for.
constexpr UINT kNoticeBoxStyle = MB_OK | MB_SETFOREGROUND | MB_TOPMOST | MB_SYSTEMMODAL;

class Notifier {
 public:
  Notifier() = default;
  ~Notifier() { Stop(); }
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  // Queues text for a box (caption "Brisomel"); repeats while a box is up are combined. The
  // thread starts with the first message. Any thread may call this; it never waits for the user.
  void Notify(const std::string& text);
  // Queues the outcome of a call that did not reach the user: outcomes that come while a box is
  // up are listed together in the next box. onRead runs (on the notifier's thread) once the user
  // has closed the box that lists it; never when the box was dropped or closed by Stop.
  void NotifyOutcome(const std::string& text, std::function<void()> onRead = nullptr);
  // Shows text at once in a modal box (the framework's, captioned with the application's title,
  // "Brisomel") and returns when the user has closed it: for what the user just did and for
  // start-up, which go on only once the user has read why.
  static void Show(const std::string& text);
  // Closes a box still open, drops what is waiting (and what comes meanwhile) and joins the
  // thread. Later messages start a new thread.
  void Stop();

 private:
  void Queue(const std::string& text, bool outcome, std::function<void()> onRead);
  void Run();

  win::SrwLock mu_;
  win::Condition changed_;
  NoticeQueue queue_;
  bool stopping_ = false;
  DWORD threadId_ = 0;  // once the thread has its message queue
  win::Thread thread_;
};

