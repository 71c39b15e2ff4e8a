// The Outlook connection step of a hidden start, and its undoing at exit.
#include "agent/outlook/outlook_connection.h"

#include <string>

#include "agent/framework/message_box.h"
#include "agent/outlook/ol_application.h"
#include "agent/outlook/ol_sink.h"
#include "agent/outlook/outlook_version.h"

BOOL g_bNoSink = FALSE;

namespace {

BOOL FailWithoutSink() {
  g_bNoSink = TRUE;
  return FALSE;
}

}  // namespace

BOOL ConnectOutlookSink() {
  COlApplication application;
  COleException error;
  if (!application.CreateDispatch("Outlook.Application", &error)) {
    AfxMessageBox("Cannot find Microsoft Outlook", MB_OK, 0);
    return FailWithoutSink();
  }

  std::string version;
  try {
    version = application.GetVersion();
  } catch (const COleException&) {
    // An Outlook that cannot tell its version cannot be relied on for events either.
    return FailWithoutSink();
  }

  int major = 0;
  if (!ParseOutlookMajorVersion(version, &major)) return FailWithoutSink();
  if (major < kFirstSupportedOutlookMajor) {
    AfxMessageBox("Cannot find Outlook 2000 or later version, Outbound reminder will not work", MB_OK, 0);
    return FailWithoutSink();
  }

  // A refused advice is not fatal: the agent runs, and exit still unadvises and lets go of Outlook.
  theSink.Advise(application.m_lpDispatch);
  application.ReleaseDispatch();  // from now on only the sink holds Outlook
  return TRUE;
}

void DisconnectOutlookSinkIfConnected() {
  if (!g_bNoSink) theSink.Unadvise();
}
