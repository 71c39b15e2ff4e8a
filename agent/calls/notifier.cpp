#include "agent/calls/notifier.h"

#include <utility>

#include "agent/framework/ui/win_app.h"

void Notifier::Notify(const std::string& text) { Queue(text, false, nullptr); }

void Notifier::NotifyOutcome(const std::string& text, std::function<void()> onRead) {
  Queue(text, true, std::move(onRead));
}

void Notifier::Queue(const std::string& text, bool outcome, std::function<void()> onRead) {
  win::Held lock(mu_);
  if (stopping_) return;  // ending: nobody would read it
  if (outcome) queue_.AddOutcome(text, std::move(onRead));
  else queue_.Add(text);
  if (!thread_.Joinable()) {
    threadId_ = 0;
    // Without a thread (the process is out of them) the text waits in the queue: the next
    // message starts one again and shows both.
    if (!thread_.Start([this] { Run(); })) return;
    // The thread's message queue must exist before Stop can post to it.
    changed_.Wait(lock, [this] { return threadId_ != 0; });
  }
  changed_.NotifyAll();
}

void Notifier::Stop() {
  win::Held lock(mu_);
  if (!thread_.Joinable()) {
    queue_ = NoticeQueue();  // what waits for a thread that never started
    return;
  }
  stopping_ = true;
  queue_ = NoticeQueue();
  // A box's modal loop ends on WM_QUIT; posted before the box opens, it ends that box at once.
  PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
  win::Thread thread = std::move(thread_);
  lock.Unlock();
  changed_.NotifyAll();
  thread.Join();
  lock.Relock();
  stopping_ = false;
}

void Notifier::Run() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // creates this thread's message queue
  win::Held lock(mu_);
  threadId_ = GetCurrentThreadId();
  changed_.NotifyAll();
  for (;;) {
    changed_.Wait(lock, [this] { return stopping_ || !queue_.Empty(); });
    if (stopping_) return;
    const Notice notice = *queue_.Take();
    lock.Unlock();
    const int closed = MessageBoxA(nullptr, NoticeBoxText(notice).c_str(), kNoticeCaption, kNoticeBoxStyle);
    lock.Relock();
    // Read by the user, not ended by Stop: who waits for that learns it (outside the lock, which
    // their own may be taken before).
    if (closed == IDOK && !stopping_ && !notice.onRead.empty()) {
      lock.Unlock();
      for (const std::function<void()>& read : notice.onRead) read();
      lock.Relock();
    }
  }
}

void Notifier::Show(const std::string& text) { AfxMessageBox(text, MB_OK); }
