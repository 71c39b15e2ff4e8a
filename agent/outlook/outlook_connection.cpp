#include "agent/outlook/outlook_connection.h"

#include <string>

#include "agent/framework/ole/automation.h"
#include "agent/framework/ole/ole.h"
#include "common/win/handles.h"
#include "agent/outlook/outlook_objects.h"
#include "agent/outlook/outlook_rules.h"

namespace {

constexpr char kNoOutlook[] = "Cannot find Microsoft Outlook";
constexpr char kTooOld[] = "Cannot find Outlook 2000 or later version, Outbound reminder will not work";
constexpr char kNoVersion[] = "Cannot read the version of Microsoft Outlook, Outbound reminder will not work";
constexpr char kNoEvents[] = "Cannot receive the reminders of Microsoft Outlook, Outbound reminder will not work";

// Waits ms while the thread goes on answering: COM calls, and the messages other programs send
// (another agent asking whether this one serves Outlook must not find it hung).
void PauseServing(DWORD ms) {
  const win::KernelHandle never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (never) {
    fw::WaitServingOleCalls(never.get(), ms);
  } else {
    ::Sleep(ms);
  }
}

// Creates Outlook's Application and reads its version. A busy Outlook, or one that turns calls
// away while it settles, is tried again with growing pauses for a bounded time; what is still
// refused then counts as no Outlook. A version that Outlook will not give is final.
Outcome ReachOutlook(fw::Dispatch* application, std::string* version) {
  const ULONGLONG start = ::GetTickCount64();
  for (int retry = 1;; ++retry) {
    fw::CallStatus status = fw::Dispatch::Create("Outlook.Application", application);
    const char* failure = kNoOutlook;
    if (status.Ok()) {
      status = application->Get(ol::kVersion, version);
      if (status.Ok()) return Outcome::Done();
      application->reset();
      failure = kNoVersion;
    }
    if (!IsTransientOutlookFailure(static_cast<uint32_t>(status.hr))) return Outcome::Failed(failure);
    const DWORD delay = OutlookRetryDelayMs(retry);
    if (::GetTickCount64() - start + delay > kOutlookRetryBudgetMs) return Outcome::Failed(kNoOutlook);
    PauseServing(delay);
  }
}

}  // namespace

OutlookConnection::OutlookConnection(COlSink::Tell tell, ReminderHandOver* handOver, COlSink::Clock clock)
    : sink_(win::ComPtr<COlSink>::Attach(new COlSink(std::move(tell), handOver, std::move(clock)))) {}

Outcome OutlookConnection::Connect(const std::function<void()>& reached) {
  Disconnect();
  fw::Dispatch application;
  std::string version;
  const Outcome running = ReachOutlook(&application, &version);
  if (!running) return running;

  const std::optional<int> major = ParseOutlookMajorVersion(version);
  if (!major) return Outcome::Failed(kNoVersion);
  if (*major < kFirstSupportedOutlookMajor) return Outcome::Failed(kTooOld);

  if (reached) reached();
  // An agent whose advice was refused would never hear of a reminder: the user must know.
  if (!sink_->Advise(application.get())) return Outcome::Failed(kNoEvents);
  // Reminders Outlook raised before the Advise (or while it was closed) reached nobody: they are
  // called now.
  sink_->CallDueReminders();
  return Outcome::Done();  // from now on only the sink holds Outlook
}

void OutlookConnection::Disconnect() { sink_->Unadvise(); }
