#pragma once
// The hidden agent's connection to Outlook: Outlook's Application, checked for a version that
// raises the Reminder event, and the sink advised on it for as long as the connection lives.
#include <windows.h>

#include <functional>
#include <utility>

#include "agent/calls/outcome.h"
#include "agent/outlook/reminder_sink.h"
#include "common/win/com_ptr.h"

class OutlookConnection {
 public:
  // tell receives what the reminder events have to say to the user; the records to call go to
  // handOver (it outlives the connection); clock gives the local time the reminders are judged by.
  OutlookConnection(COlSink::Tell tell, ReminderHandOver* handOver, COlSink::Clock clock);
  ~OutlookConnection() { Disconnect(); }
  OutlookConnection(const OutlookConnection&) = delete;
  OutlookConnection& operator=(const OutlookConnection&) = delete;

  // Creates "Outlook.Application" (trying again for a bounded time while Outlook is busy or turns
  // calls away, still answering other programs meanwhile), checks its version, advises the sink
  // and calls the reminders Outlook raised before the Advise, or while it was closed, that no
  // agent of this Outlook session has called (COlSink::CallDueReminders). reached, when given, is
  // told once Outlook runs and answers, before the Advise: the caller finds Outlook's process and
  // opens the session's record then. Failed with the user's message when there is no Outlook, its
  // version is unreadable or too old, or its events were refused; the connection then holds
  // nothing of Outlook.
  Outcome Connect(const std::function<void()>& reached = nullptr);
  // Unadvises the sink and lets go of Outlook. Does nothing when not connected.
  void Disconnect();
  bool Connected() const { return sink_->Advised(); }
  // Told once when Outlook closes or is found gone (the connection has let go of Outlook then).
  void SetEnded(COlSink::Ended ended) { sink_->SetEnded(std::move(ended)); }

  COlSink& Sink() const { return *sink_.get(); }

 private:
  win::ComPtr<COlSink> sink_;
};
