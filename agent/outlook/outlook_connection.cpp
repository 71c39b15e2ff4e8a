#include "agent/outlook/outlook_connection.h"

#include <string>

#include "agent/framework/ole/automation.h"
#include "agent/outlook/outlook_objects.h"
#include "agent/outlook/outlook_rules.h"

namespace {

constexpr char kNoOutlook[] = "Cannot find Microsoft Outlook";
constexpr char kTooOld[] = "Cannot find Outlook 2000 or later version, Outbound reminder will not work";
constexpr char kNoVersion[] = "Cannot read the version of Microsoft Outlook, Outbound reminder will not work";
constexpr char kNoEvents[] = "Cannot receive the reminders of Microsoft Outlook, Outbound reminder will not work";

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
    ::Sleep(delay);
  }
}

}  // namespace

OutlookConnection::OutlookConnection(COlSink::Tell tell, ReminderHandOver* handOver, COlSink::Clock clock)
    : sink_(win::ComPtr<COlSink>::Attach(new COlSink(std::move(tell), handOver, std::move(clock)))) {}

Outcome OutlookConnection::Connect(DATE outlookStarted) {
  Disconnect();
  fw::Dispatch application;
  std::string version;
  const Outcome reached = ReachOutlook(&application, &version);
  if (!reached) return reached;

  const std::optional<int> major = ParseOutlookMajorVersion(version);
  if (!major) return Outcome::Failed(kNoVersion);
  if (*major < kFirstSupportedOutlookMajor) return Outcome::Failed(kTooOld);

  // An agent whose advice was refused would never hear of a reminder: the user must know.
  if (!sink_->Advise(application.get())) return Outcome::Failed(kNoEvents);
  // Reminders Outlook raised before the Advise reached nobody: they are called now.
  sink_->CallDueReminders(application, outlookStarted);
  return Outcome::Done();  // from now on only the sink holds Outlook
}

void OutlookConnection::Disconnect() { sink_->Unadvise(); }
