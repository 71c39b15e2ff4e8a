#include "tools/outlook-sim/script_runner.h"

#include "tools/outlook-sim/clock.h"
#include "tools/outlook-sim/event_ids.h"
#include "tools/outlook-sim/guard.h"
#include "tools/outlook-sim/script/log_text.h"
#include "tools/outlook-sim/serving_call.h"
#include "tools/outlook-sim/sim_log.h"
#include "tools/outlook-sim/stopwatch.h"

namespace sim {
namespace {

constexpr UINT kStepMessage = WM_APP + 1;
constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollMs = 10;
constexpr wchar_t kWindowClass[] = L"OutlookSimScript";

constexpr int kExitTimeout = 3;

}  // namespace

ScriptRunner::ScriptRunner(std::vector<Command> commands, SimModel& model, AddinHost& addins,
                           MessageFilter& filter, Settings settings)
    : commands_(std::move(commands)),
      model_(model),
      addins_(addins),
      filter_(filter),
      settings_(std::move(settings)) {}

ScriptRunner::~ScriptRunner() {
  if (hwnd_) DestroyWindow(hwnd_);
}

bool ScriptRunner::Create() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = &ScriptRunner::WndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  RegisterClassW(&wc);
  hwnd_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  if (!hwnd_) return false;
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return true;
}

void ScriptRunner::Start() {
  started_ = true;
  SetTimer(hwnd_, kPollTimer, kPollMs, nullptr);
  Wake();
}

void ScriptRunner::Wake() {
  if (hwnd_) PostMessageW(hwnd_, kStepMessage, 0, 0);
}

void ScriptRunner::ClientConnected() {
  everConnected_ = true;
  Wake();
}

void ScriptRunner::RequestQuit() {
  if (done_) return;
  LogLine("Quit requested");
  if (inStep_ || ServingCall::Active()) {
    // Inside an event call, or a client's call in progress: that finishes first.
    quitRequested_ = true;
    return;
  }
  Shutdown();
}

LRESULT CALLBACK ScriptRunner::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<ScriptRunner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self && (msg == kStepMessage || (msg == WM_TIMER && wp == kPollTimer))) {
    self->Step();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void ScriptRunner::Step() {
  if (!started_ || done_) return;
  // A nested message loop (an event call in progress) must not run the next command.
  if (inStep_) {
    stepAgain_ = true;
    return;
  }
  // Nor one inside a client's call that calls out: the poll timer and the Wake that the call
  // posts step once it has been answered.
  if (ServingCall::Active()) return;
  inStep_ = true;
  do {
    stepAgain_ = false;
    RunUntilBlocked();
  } while (stepAgain_ && !done_);
  inStep_ = false;
}

bool ScriptRunner::WaitSatisfied() const {
  switch (wait_) {
    case Wait::None: return true;
    case Wait::Advise: return model_.App()->Events()->SinkCount() >= waitCount_;
    case Wait::Unadvise: return model_.App()->Events()->SinkCount() == 0;
    case Wait::Sleep: return false;
    case Wait::QuitWait: return false;  // judged in RunUntilBlocked
    case Wait::RemindersReleased:
      return model_.App()->RemindersHandedOut() > 0 && model_.App()->ReminderList()->ExternalRefs() == 0;
  }
  return true;
}

void ScriptRunner::RunUntilBlocked() {
  while (!done_) {
    if (quitRequested_) {
      Shutdown();
      return;
    }
    if (wait_ == Wait::QuitWait) {
      const LONG external = OutsideReferences();
      if (external > 0 && GetTickCount64() < deadline_) return;
      LogLine("Quit waited ms=" + std::to_string(static_cast<long long>(quitWatch_.Ms() + 0.5)) +
              " external=" + std::to_string(external));
      wait_ = Wait::None;
      Shutdown();
      return;
    }
    if (wait_ != Wait::None) {
      if (!WaitSatisfied()) {
        if (GetTickCount64() < deadline_) return;
        if (wait_ != Wait::Sleep) {
          LogLine(std::string("Timeout ") + waitName_);
          exitCode_ = kExitTimeout;
        }
      }
      wait_ = Wait::None;
    }
    if (pc_ < commands_.size()) {
      Execute(commands_[pc_++]);
      continue;
    }
    // The script has ended: stay while clients hold references, within the linger time.
    if (!lingering_) {
      lingering_ = true;
      deadline_ = GetTickCount64() + static_cast<uint64_t>(settings_.lingerSeconds) * 1000;
    }
    if (Idle()) {
      Shutdown();
    } else if (GetTickCount64() >= deadline_) {
      LogLine("Linger timeout");
      exitCode_ = kExitTimeout;
      Shutdown();
    }
    return;
  }
}

LONG ScriptRunner::OutsideReferences() {
  return model_.ExternalRefs() + (settings_.serverLocks ? settings_.serverLocks() : 0);
}

bool ScriptRunner::Idle() {
  const LONG external = OutsideReferences();
  if (external > 0) everConnected_ = true;
  if (settings_.embedding && !everConnected_) return false;
  return external == 0;
}

void ScriptRunner::Execute(const Command& cmd) {
  const int64_t now = LocalNowSeconds();
  auto startWait = [&](Wait w, const char* name) {
    wait_ = w;
    waitName_ = name;
    deadline_ = GetTickCount64() + static_cast<uint64_t>(cmd.durationMs);
  };
  switch (cmd.op) {
    case Op::Version:
      model_.App()->SetVersion(cmd.text);
      break;
    case Op::Item: {
      Item* item = model_.ItemFor(cmd.target);
      item->Refresh(now);
      for (const FieldSetting& f : cmd.fields) item->Apply(f, now);
      break;
    }
    case Op::Fail:
    case Op::Unfail: {
      FailureSet& failures = cmd.target == kApplicationObject ? model_.App()->Failures()
                                                              : model_.FindItem(cmd.target)->Failures();
      if (cmd.op == Op::Fail) {
        failures.Set(cmd.member, cmd.text, cmd.putOnly);
      } else {
        failures.Clear(cmd.member);
      }
      break;
    }
    case Op::Fire:
      if (Item* item = ExistingItem(cmd.target)) model_.Fire(kDispidReminder, item);
      break;
    case Op::Burst: {
      Item* item = ExistingItem(cmd.target);
      for (uint32_t i = 0; item && i < cmd.count && !quitRequested_; ++i) model_.Fire(kDispidReminder, item);
      break;
    }
    case Op::FireDispid:
      if (Item* item = ExistingItem(cmd.target)) model_.Fire(cmd.dispid, item);
      break;
    case Op::WaitAdvise:
      waitCount_ = cmd.count;
      startWait(Wait::Advise, "wait-advise");
      break;
    case Op::WaitUnadvise:
      startWait(Wait::Unadvise, "wait-unadvise");
      break;
    case Op::WaitRemindersReleased:
      startWait(Wait::RemindersReleased, "wait-reminders-released");
      break;
    case Op::Sleep:
      startWait(Wait::Sleep, "sleep");
      break;
    case Op::Refcounts:
      model_.LogRefcounts();
      if (settings_.ribbons) settings_.ribbons->LogRefcounts();
      break;
    case Op::Busy:
      filter_.BusyFor(cmd.durationMs, cmd.reject);
      break;
    case Op::RemoveAddin:
      addins_.Remove(cmd.target);
      break;
    case Op::ConnectAddin:
      addins_.ConnectAfterStartup(cmd.target);
      break;
    case Op::RefuseAdvise:
      model_.App()->Events()->RefuseAdvise();
      break;
    case Op::Note:
      LogLine("Note " + cmd.note);
      break;
    case Op::Quit:
      Shutdown();
      break;
    case Op::OpenInspector:
      if (Item* item = ExistingItem(cmd.target)) settings_.ribbons->OpenInspector(item);
      break;
    case Op::CloseInspector:
      settings_.ribbons->CloseInspector(cmd.target);
      break;
    case Op::Click:
      settings_.ribbons->Click(cmd.target);
      break;
    case Op::Type:
      settings_.ribbons->Type(cmd.target, cmd.text);
      break;
    case Op::ExplorerClick:
      settings_.ribbons->ExplorerClick(cmd.target);
      break;
    case Op::QuitWait:
      // Timed from the Quit event: a client may let go from inside it.
      quitWatch_ = Stopwatch();
      model_.FireQuit();
      startWait(Wait::QuitWait, "quit-wait");
      break;
    case Op::QuitFast:
      ShutdownFast();
      break;
    case Op::Due: {
      Item* item = model_.FindItem(cmd.target);
      item->Refresh(now);
      // A time in the past: it came due then (while Outlook was closed, say), not now.
      model_.App()->ReminderList()->MakeDue(item, cmd.hasTime ? Resolve(cmd.when, now) : now);
      LogLine("Due " + item->LogName());
      model_.Fire(kDispidReminder, item);
      break;
    }
    case Op::Guard:
      SetGuard(cmd.member, cmd.guard, cmd.durationMs);
      break;
    case Op::State:
      if (Item* item = ExistingItem(cmd.target)) LogLine("State " + item->LogName() + " " + item->StateText());
      break;
  }
}

Item* ScriptRunner::ExistingItem(const std::string& name) {
  // Items the add-in was to create (new1, ...) may not exist.
  Item* item = model_.FindItem(name);
  if (!item) LogLine("Error item " + name + " does not exist");
  return item;
}

void ScriptRunner::Shutdown() {
  if (done_) return;
  done_ = true;
  KillTimer(hwnd_, kPollTimer);
  LogLine("Quit");
  addins_.ShutdownAll();
  if (settings_.ribbons) settings_.ribbons->CloseAll();
  if (settings_.revokeServer) settings_.revokeServer();
  model_.DisconnectAll();
  LogLine("Exit code=" + std::to_string(exitCode_));
  PostQuitMessage(exitCode_);
}

void ScriptRunner::ShutdownFast() {
  if (done_) return;
  done_ = true;
  KillTimer(hwnd_, kPollTimer);
  LogLine("Quit fast");
  if (settings_.revokeServer) settings_.revokeServer();
  model_.DisconnectAll();
  LogLine("Exit code=" + std::to_string(exitCode_));
  // No OnBeginShutdown, no OnDisconnection, no Release: the add-ins go with the process. Ended,
  // not exited: ExitProcess runs every DLL's detach while COM's threads still work, and under Wine
  // that can wait for ever on the loader lock.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode_));
}

}  // namespace sim
