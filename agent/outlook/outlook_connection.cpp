// Placeholder until the Outlook integration lands: a hidden start ends as if Outlook could not be
// created.
#include "agent/outlook/outlook_connection.h"

#include "agent/framework/message_box.h"

BOOL g_bNoSink = FALSE;

BOOL ConnectOutlookSink() {
  AfxMessageBox("Cannot find Microsoft Outlook", MB_OK, 0);
  g_bNoSink = TRUE;
  return FALSE;
}

void DisconnectOutlookSinkIfConnected() {}
