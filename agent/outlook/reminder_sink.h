#pragma once
// The sink for Outlook's application events, and the way from its Reminder event to the main
// window. Outlook's connection point asks the sink for the event interface and gets its IDispatch,
// so each event arrives as IDispatch::Invoke with the event's DISPID; the dispatch map binds
// Reminder (0xF004) to OnReminder and answers every other DISPID with DISP_E_MEMBERNOTFOUND.
//
// A reminder-call appointment becomes a ReminderRecord queued for the main window, which makes
// the call once the event has returned: the event call itself never waits for the user or the
// gateway.
#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <memory>
#include <string>

#include "agent/calls/outcome.h"
#include "agent/calls/call_text.h"
#include "agent/framework/automation.h"
#include "agent/framework/dispatch_target.h"
#include "common/win/com_ptr.h"

// The current local date and time as an OLE Automation date, to the second (the system clock).
DATE CurrentLocalOleDate();

class COlSink : public fw::AutomationTarget {
 public:
  using Tell = std::function<void(const std::string&)>;  // a message for the user
  using Clock = std::function<DATE()>;                   // the current local time

  // Created with one reference, for its owner (win::ComPtr<COlSink>::Attach).
  explicit COlSink(Tell tell, Clock clock = CurrentLocalOleDate);
  ~COlSink() override;

  // For win::ComPtr.
  ULONG AddRef() { return ExternalAddRef(); }
  ULONG Release() { return ExternalRelease(); }

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
  // The work of OnReminder: queues the record, or says why no call is made. Done also for an
  // item that is no reminder-call appointment.
  Outcome HandleReminder(const fw::Dispatch& item);

  IUnknown* Source() const { return source_.get(); }

 protected:
  const fw::DispatchMap* GetDispatchMap() const override;
  const fw::InterfaceMap* GetInterfaceMap() const override;

 private:
  Tell tell_;
  Clock clock_;
  win::ComPtr<IUnknown> source_;
  DWORD cookie_ = 0;
};

// Posted to the main window once per record queued; wParam and lParam are 0. The records wait in
// a queue that belongs to this process; the main window is only woken, by a private message that
// carries nothing. A message posted by anyone else can therefore neither hand over a made-up
// record nor free anything: at most it makes the window look at the queue early.
constexpr UINT kReminderQueuedMessage = WM_APP + 101;

// Queues the record for the application's main window and wakes it. False (the record is freed)
// when there is no main window or the wake-up could not be posted.
bool HandOverReminderRecord(std::unique_ptr<ReminderRecord> record);

// The oldest queued record, or null when none waits. For the main window, on the thread that
// queues them.
std::unique_ptr<ReminderRecord> TakeReminderRecord();
