#pragma once
// Win32's own lock, condition and thread. The agent needs little of threading, and the standard
// library's std::thread and std::condition_variable of the posix thread model bring in a pthreads
// emulation of about 30 KB, a 32-bit binary's largest part after the string classes.
#include <windows.h>
#include <process.h>

#include <memory>
#include <utility>

#include "common/win/handles.h"

namespace win {

// Takes std::lock_guard (it has lock and unlock); Held for a lock that is let go and taken again.
class SrwLock {
 public:
  SrwLock() = default;
  SrwLock(const SrwLock&) = delete;
  SrwLock& operator=(const SrwLock&) = delete;
  void lock() { ::AcquireSRWLockExclusive(&lock_); }
  void unlock() { ::ReleaseSRWLockExclusive(&lock_); }
  SRWLOCK* native() { return &lock_; }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

// Holds a SrwLock from construction to destruction, but for where it is let go meanwhile. (Not
// std::unique_lock: its checks throw std::system_error, and that class alone brings in 60 KB of
// the library's exception and older string code.)
class Held {
 public:
  explicit Held(SrwLock& lock) : lock_(lock) { lock_.lock(); }
  ~Held() {
    if (held_) lock_.unlock();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  void Unlock() {
    lock_.unlock();
    held_ = false;
  }
  void Relock() {
    lock_.lock();
    held_ = true;
  }
  SrwLock& Of() { return lock_; }

 private:
  SrwLock& lock_;
  bool held_ = true;
};

class Condition {
 public:
  Condition() = default;
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;
  // Waits, the lock held on return, until done() holds (checked first, and after every wake).
  template <typename Done>
  void Wait(Held& held, Done done) {
    while (!done()) ::SleepConditionVariableSRW(&condition_, held.Of().native(), INFINITE, 0);
  }
  void NotifyAll() { ::WakeAllConditionVariable(&condition_); }

 private:
  CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};

// A thread that runs one function and is joined by its owner (never detached).
class Thread {
 public:
  Thread() = default;
  Thread(Thread&&) = default;
  Thread& operator=(Thread&& other) noexcept {
    Join();
    handle_ = std::move(other.handle_);
    return *this;
  }
  ~Thread() { Join(); }

  // False, with the thread's last error set, when no thread could be started; f is not run then.
  template <typename F>
  bool Start(F f) {
    Join();
    auto job = std::make_unique<F>(std::move(f));
    // _beginthreadex rather than CreateThread: the C runtime's per-thread data is set up for it.
    const uintptr_t h = ::_beginthreadex(nullptr, 0, &Run<F>, job.get(), 0, nullptr);
    if (h == 0) return false;
    job.release();  // the thread's now
    handle_.reset(reinterpret_cast<HANDLE>(h));
    return true;
  }
  bool Joinable() const { return static_cast<bool>(handle_); }
  void Join() {
    if (!handle_) return;
    ::WaitForSingleObject(handle_.get(), INFINITE);
    handle_.reset();
  }

 private:
  template <typename F>
  static unsigned __stdcall Run(void* job) {
    std::unique_ptr<F> f(static_cast<F*>(job));
    (*f)();
    return 0;
  }

  UniqueHandle<KernelHandleTraits> handle_;
};

}  // namespace win
