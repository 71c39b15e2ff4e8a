#include "agent/framework/ole_serving_wait.h"

#include <objbase.h>

#include <exception>
#include <thread>

#include "agent/framework/handles.h"

namespace fw {
namespace {

bool OnSingleThreadedApartment() {
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  return SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && (type == APTTYPE_STA || type == APTTYPE_MAINSTA);
}

}  // namespace

void RunServingOleCalls(const std::function<void()>& work) {
  KernelHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!done || !OnSingleThreadedApartment()) {
    work();
    return;
  }
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    SetEvent(done.get());
  });
  HANDLE handle = done.get();
  DWORD index = 0;
  // The modal loop wakes only for messages that arrive after it starts; a call already queued
  // (it came in while the previous message was handled) would wait for the work. A nudge makes
  // the first wake happen at once. The nudge itself, a WM_NULL for the thread, is ignored later.
  PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
  // COM's modal loop: incoming calls are dispatched, other messages wait.
  while (CoWaitForMultipleHandles(0, INFINITE, 1, &handle, &index) == RPC_S_CALLPENDING) {
  }
  // Whatever the wait reported, the worker is joined before its captures go out of scope.
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace fw
