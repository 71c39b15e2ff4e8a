#include "tests/harness/message_box_watcher.h"

#include <algorithm>
#include <chrono>

namespace harness {

namespace {

constexpr int kScanMs = 20;
constexpr int kStaticTextId = 0xFFFF;

std::string WindowText(HWND w) {
  char buffer[4096];
  int n = GetWindowTextA(w, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string ClassName(HWND w) {
  char buffer[256];
  int n = GetClassNameA(w, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

struct FindState {
  const std::string* caption;
  std::vector<HWND> boxes;
};

BOOL CALLBACK CollectBox(HWND w, LPARAM param) {
  auto* st = reinterpret_cast<FindState*>(param);
  if (ClassName(w) == "#32770" && WindowText(w) == *st->caption) st->boxes.push_back(w);
  return TRUE;
}

BOOL CALLBACK FirstButton(HWND w, LPARAM param) {
  if (ClassName(w) == "Button") {
    *reinterpret_cast<HWND*>(param) = w;
    return FALSE;
  }
  return TRUE;
}

// The button that dismisses the box: OK, else Cancel, else the first button.
HWND DismissButton(HWND box) {
  if (HWND ok = GetDlgItem(box, IDOK)) return ok;
  if (HWND cancel = GetDlgItem(box, IDCANCEL)) return cancel;
  HWND first = nullptr;
  EnumChildWindows(box, FirstButton, reinterpret_cast<LPARAM>(&first));
  return first;
}

}  // namespace

MessageBoxWatcher::MessageBoxWatcher(std::string caption, int holdMs)
    : caption_(std::move(caption)), holdMs_(holdMs), thread_([this] { Run(); }) {}

MessageBoxWatcher::~MessageBoxWatcher() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

std::vector<SeenBox> MessageBoxWatcher::Seen() const {
  std::lock_guard<std::mutex> lock(mu_);
  return seen_;
}

size_t MessageBoxWatcher::Count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return seen_.size();
}

size_t MessageBoxWatcher::MostOpenAtOnce() const {
  std::lock_guard<std::mutex> lock(mu_);
  return mostOpen_;
}

bool MessageBoxWatcher::WaitForCount(size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                           [&] { return seen_.size() >= n; });
}

void MessageBoxWatcher::Run() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mu_);
      if (changed_.wait_for(lock, std::chrono::milliseconds(kScanMs), [&] { return stopping_; }))
        return;
    }
    Scan();
  }
}

void MessageBoxWatcher::Scan() {
  // Forget boxes that are gone, so a later box that gets a recycled handle is still seen.
  for (auto it = handled_.begin(); it != handled_.end();)
    it = IsWindow(*it) ? std::next(it) : handled_.erase(it);

  FindState st{&caption_, {}};
  EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&st));
  size_t open = 0;
  for (HWND box : st.boxes) open += IsWindowVisible(box) ? 1 : 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    mostOpen_ = std::max(mostOpen_, open);
  }
  for (HWND box : st.boxes) {
    // A box exists before it is shown and filled in; take it once it is visible.
    if (handled_.count(box) || !IsWindowVisible(box)) continue;
    Handle(box);
  }
  const ULONGLONG now = GetTickCount64();
  for (auto it = holding_.begin(); it != holding_.end();) {
    if (now < it->second) {
      ++it;
      continue;
    }
    if (IsWindow(it->first)) Close(it->first);
    it = holding_.erase(it);
  }
}

void MessageBoxWatcher::Handle(HWND box) {
  SeenBox seen;
  seen.caption = caption_;
  char text[8192];
  UINT n = GetDlgItemTextA(box, kStaticTextId, text, sizeof text);
  seen.text.assign(text, n);
  GetWindowThreadProcessId(box, &seen.pid);
  seen.topmost = (GetWindowLongPtrA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;

  // Recorded before the click: once the code that showed the box continues, the box is counted.
  {
    std::lock_guard<std::mutex> lock(mu_);
    seen_.push_back(std::move(seen));
  }
  handled_.insert(box);
  changed_.notify_all();
  if (holdMs_ > 0) {
    holding_[box] = GetTickCount64() + static_cast<ULONGLONG>(holdMs_);
  } else {
    Close(box);
  }
}

void MessageBoxWatcher::Close(HWND box) {
  HWND button = DismissButton(box);
  DWORD_PTR ignored = 0;
  if (button) {
    // Bounded: a hung owner thread must not hang the watcher (and with it the test's end).
    SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
  } else {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
}

}  // namespace harness
