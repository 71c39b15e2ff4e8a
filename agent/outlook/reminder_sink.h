#pragma once
// The sink for Outlook's application events, and the way from its Reminder event to the main
// window. Outlook's connection point asks the sink for the event interface and gets its IDispatch,
// so each event arrives as IDispatch::Invoke with the event's DISPID; the dispatch map binds
// Reminder (0xF004) to OnReminder and Quit (0xF007) to OnQuit, and answers every other DISPID
// with DISP_E_MEMBERNOTFOUND.
//
// Outlook 2000 to 2007 close only once every outside reference is gone, so Quit lets go of
// Outlook at once; a call that finds Outlook gone (disconnected, its process ended) does the
// same, without a word to the user.
//
// A reminder-call appointment becomes a ReminderRecord queued in the ReminderHandOver its owner
// gave, for the window that makes the call once the event has returned: the event call itself
// never waits for the user or the gateway. That window is the main frame
// (agent/shell/main_frame.cpp), the next stop of a reminder.
#include <windows.h>
#include <oleauto.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "agent/calls/call_text.h"
#include "agent/calls/ole_date.h"
#include "agent/calls/outcome.h"
#include "agent/framework/ole/automation.h"
#include "agent/framework/ole/dispatch_target.h"
#include "agent/outlook/session_record.h"
#include "agent/outlook/start_ledger.h"
#include "common/win/com_ptr.h"

// Posted to the target window of a ReminderHandOver once per record queued; wParam and lParam are
// 0. The records wait in the hand-over, inside this process; the window is only woken, by a
// private message that carries nothing. A message posted by anyone else can therefore neither
// hand over a made-up record nor free anything: at most it makes the window look at the queue
// early.
constexpr UINT kReminderQueuedMessage = WM_APP + 101;

// The way of a ReminderRecord from Outlook's Reminder event to the window that makes the call.
// Owned by the application, which names the window once it exists; the sink queues, the window
// takes. Both ends run on the user-interface thread.
class ReminderHandOver {
 public:
  ReminderHandOver() = default;
  ReminderHandOver(const ReminderHandOver&) = delete;
  ReminderHandOver& operator=(const ReminderHandOver&) = delete;

  // The window that takes the records; none (null) until it exists.
  void SetTarget(HWND window) { target_ = window; }

  // Queues the record and wakes the target window. False (the record is freed) when there is no
  // target window or the wake-up could not be posted.
  bool Queue(std::unique_ptr<ReminderRecord> record);

  // The oldest queued record, or null when none waits.
  std::unique_ptr<ReminderRecord> Take();

 private:
  HWND target_ = nullptr;
  std::deque<std::unique_ptr<ReminderRecord>> records_;
};

class COlSink : public fw::AutomationTarget {
 public:
  using Tell = std::function<void(const std::string&)>;  // a message for the user
  using Clock = LocalClock;                              // the current local time
  using Ended = std::function<void()>;                   // Outlook closes or is gone

  // Created with one reference, for its owner (win::ComPtr<COlSink>::Attach). The records go to
  // handOver, which outlives the sink; without one no reminder can be queued for calling. clock
  // is what the reminders are judged by (too late, came due since Outlook started, already
  // called).
  COlSink(Tell tell, ReminderHandOver* handOver, Clock clock);
  ~COlSink() override;

  // For win::ComPtr.
  ULONG AddRef() { return InternalAddRef(); }
  ULONG Release() { return InternalRelease(); }

  // Connects to the ApplicationEvents connection point of source (Outlook's Application) and
  // keeps a reference to source until Unadvise. The connection point holds no reference of the
  // sink: the owner unadvises before it lets go. False when the connection point refused; the
  // sink then keeps nothing of source.
  bool Advise(IUnknown* source);
  // Disconnects and releases the source. Does nothing when not advised.
  void Unadvise();
  bool Advised() const { return static_cast<bool>(source_); }

  // Reminder (DISPID 0xF004): item is Outlook's item whose reminder is due, lent for the call.
  // What the user must know goes to the sink's Tell.
  void OnReminder(LPDISPATCH item);
  // Quit (DISPID 0xF007): unadvises, lets go of Outlook and reports the end.
  void OnQuit();

  // Where a reminder came from: its event, or the look at the reminders due at start-up.
  enum class Origin { Event, Startup };
  // The work of OnReminder: queues the record, or says why no call is made. Done also for an
  // item that is no reminder-call appointment, and for a reminder already called (one found at
  // start-up whose event also came, or that an earlier agent of this Outlook called when it came
  // due at dueSeconds). From the start-up look, a reminder too late to call is passed over
  // silently.
  Outcome HandleReminder(const fw::Dispatch& item, Origin origin = Origin::Event, long long dueSeconds = 0);

  // After the Advise: calls, as if its event had come, each reminder shown in Outlook's reminder
  // window that no agent of this Outlook session has called since it came due: those that came
  // due while the agent started, and those that came due while Outlook was closed (their
  // appointment still ahead). Without the session's record in the registry, only those that came
  // due since Outlook started; without even Outlook's process, none (an earlier agent's calls
  // are unknown). Outlook 2000 has no Reminders: every failure here is silent.
  void CallDueReminders();

  // Where the start-up look reads what this Outlook session's agents called (the window that
  // calls notes each call there); none: the look calls nothing.
  void SetRecord(const SessionRecord* record) { record_ = record; }

  // Told once when Outlook closes (Quit) or is found gone; the sink has let go of Outlook then.
  void SetEnded(Ended ended) { ended_ = std::move(ended); }
  // A call found Outlook gone.
  bool ConnectionLost() const { return lost_; }

  IUnknown* Source() const { return source_.get(); }

 protected:
  const fw::DispatchMap* GetDispatchMap() const override;
  // The event interface, ApplicationEvents, is answered with the sink's IDispatch.
  void* GetInterfaceHook(REFIID iid) override;

 private:
  // Notes a failed call that says Outlook is gone.
  fw::CallStatus Watch(fw::CallStatus status);
  // The reminder path's failure, or, for Outlook's object-model guard, its plain explanation
  // once per start (later refusals of the same kind are not told again).
  Outcome GuardRefusedNumber();
  void TellGuardRefusedBody();
  // Lets go of Outlook and reports the end, once.
  void End();

  Tell tell_;
  ReminderHandOver* handOver_;
  Clock clock_;
  Ended ended_;
  win::ComPtr<IUnknown> source_;
  DWORD cookie_ = 0;
  bool lost_ = false;
  bool endReported_ = false;
  bool toldGuardBody_ = false;
  bool toldGuardNumber_ = false;
  StartLedger ledger_;
  const SessionRecord* record_ = nullptr;
};

// What the user is told when Outlook's object-model guard refuses a read.
extern const char kGuardRefusedBody[];
extern const char kGuardRefusedNumber[];
