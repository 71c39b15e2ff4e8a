#include "agent/calls/notifier.h"

#include <utility>

#include "agent/framework/ui/win_app.h"

void Notifier::Notify(const std::string& text) {
  std::unique_lock<std::mutex> lock(mu_);
  if (stopping_) return;  // ending: nobody would read it
  queue_.Add(text);
  if (!thread_.joinable()) {
    threadId_ = 0;
    thread_ = std::thread([this] { Run(); });
    // The thread's message queue must exist before Stop can post to it.
    changed_.wait(lock, [this] { return threadId_ != 0; });
  }
  changed_.notify_all();
}

void Notifier::Stop() {
  std::unique_lock<std::mutex> lock(mu_);
  if (!thread_.joinable()) return;
  stopping_ = true;
  queue_ = NoticeQueue();
  // A box's modal loop ends on WM_QUIT; posted before the box opens, it ends that box at once.
  PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
  std::thread thread = std::move(thread_);
  lock.unlock();
  changed_.notify_all();
  thread.join();
  lock.lock();
  stopping_ = false;
}

void Notifier::Run() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // creates this thread's message queue
  std::unique_lock<std::mutex> lock(mu_);
  threadId_ = GetCurrentThreadId();
  changed_.notify_all();
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.Empty(); });
    if (stopping_) return;
    const Notice notice = *queue_.Take();
    lock.unlock();
    MessageBoxA(nullptr, NoticeBoxText(notice).c_str(), kNoticeCaption, kNoticeBoxStyle);
    lock.lock();
  }
}

void Notifier::Show(const std::string& text) { AfxMessageBox(text, MB_OK); }
