#pragma once
// CCadeloApp: the application object. Chooses the mode from the command line (visible, or hidden
// with "/hidewindow yes" for the Outlook add-in), builds the frames and serves the settings
// document to automation clients.
#include "agent/calls/notifier.h"
#include "agent/framework/afx.h"

class CCadeloApp : public CWinApp {
 public:
  CCadeloApp();

  BOOL InitInstance() override;
  int ExitInstance() override;

  void OnAppAbout();

 protected:
  const fw::CommandMap* GetCommandMap() const override;

 private:
  COleTemplateServer m_server;
  // Shows the reminder path's messages to the user, one box at a time, on a thread of its own.
  Notifier m_notifier;
};

// Class id under which the settings document type is served and registered.
extern const CLSID CLSID_CadeloDocument;
