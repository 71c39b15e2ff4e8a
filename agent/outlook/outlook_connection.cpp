// The Outlook connection step of a hidden start, and its undoing at exit.
#include "agent/outlook/outlook_connection.h"

#include <string>

#include "agent/framework/win_app.h"
#include "agent/outlook/ol_application.h"
#include "agent/outlook/ol_sink.h"
#include "agent/outlook/outlook_retry.h"
#include "agent/outlook/outlook_version.h"

BOOL g_bNoSink = FALSE;

namespace {

constexpr char kNoOutlook[] = "Cannot find Microsoft Outlook";
constexpr char kTooOld[] = "Cannot find Outlook 2000 or later version, Outbound reminder will not work";
constexpr char kNoVersion[] = "Cannot read the version of Microsoft Outlook, Outbound reminder will not work";
constexpr char kNoEvents[] = "Cannot receive the reminders of Microsoft Outlook, Outbound reminder will not work";

BOOL FailWithoutSink(const char* message) {
  AfxMessageBox(message, MB_OK, 0);
  g_bNoSink = TRUE;
  return FALSE;
}

enum class Reached { kVersion, kNoOutlook, kNoVersion };

// Creates Outlook's Application and reads its version. A busy Outlook, or one that turns calls
// away while it settles, is tried again with growing pauses for a bounded time; what is still
// refused then counts as no Outlook. A version that Outlook will not give is final.
Reached ReachOutlook(COlApplication& application, std::string* version) {
  const ULONGLONG start = ::GetTickCount64();
  for (int retry = 1;; ++retry) {
    HRESULT failure = S_OK;
    COleException error;
    if (application.CreateDispatch("Outlook.Application", &error)) {
      try {
        *version = application.GetVersion();
        return Reached::kVersion;
      } catch (const COleException& e) {
        failure = e.m_sc;
        application.ReleaseDispatch();
        if (!IsTransientOutlookFailure(static_cast<uint32_t>(failure))) return Reached::kNoVersion;
      }
    } else {
      failure = error.m_sc;
      if (!IsTransientOutlookFailure(static_cast<uint32_t>(failure))) return Reached::kNoOutlook;
    }
    const DWORD delay = OutlookRetryDelayMs(retry);
    if (::GetTickCount64() - start + delay > kOutlookRetryBudgetMs) return Reached::kNoOutlook;
    ::Sleep(delay);
  }
}

}  // namespace

BOOL ConnectOutlookSink() {
  COlApplication application;
  std::string version;
  switch (ReachOutlook(application, &version)) {
    case Reached::kNoOutlook:
      return FailWithoutSink(kNoOutlook);
    case Reached::kNoVersion:
      return FailWithoutSink(kNoVersion);
    case Reached::kVersion:
      break;
  }

  int major = 0;
  if (!ParseOutlookMajorVersion(version, &major)) return FailWithoutSink(kNoVersion);
  if (major < kFirstSupportedOutlookMajor) return FailWithoutSink(kTooOld);

  // An agent whose advice was refused would never hear of a reminder: the user must know.
  if (!theSink.Advise(application.m_lpDispatch)) return FailWithoutSink(kNoEvents);
  application.ReleaseDispatch();  // from now on only the sink holds Outlook
  return TRUE;
}

void DisconnectOutlookSinkIfConnected() {
  if (!g_bNoSink) theSink.Unadvise();
}
