#include "agent/shell/cadelo_app.h"

#include "agent/framework/ole.h"
#include "agent/outlook/outlook_connection.h"
#include "agent/res/resource.h"
#include "agent/shell/about_dlg.h"
#include "agent/shell/addin_registration.h"
#include "agent/shell/cadelo_command_line_info.h"
#include "agent/shell/cadelo_doc.h"
#include "agent/shell/cadelo_view.h"
#include "agent/shell/child_frame.h"
#include "agent/shell/hidden_agent_claim.h"
#include "agent/shell/main_frame.h"

// {B27E5F90-4C1A-4D3E-8F62-07A9D3C15E4B}
const CLSID CLSID_CadeloDocument = {0xB27E5F90, 0x4C1A, 0x4D3E, {0x8F, 0x62, 0x07, 0xA9, 0xD3, 0xC1, 0x5E, 0x4B}};

namespace {

constexpr DWORD kMainFrameStyle = WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE;
static_assert(kMainFrameStyle == 0x00CF8000, "main frame style");

// Start-up ends here on every path that leaves the Outlook sink unconnected.
BOOL FailWithoutSink() {
  g_bNoSink = TRUE;
  return FALSE;
}

}  // namespace

// No application name: the title comes from the string table ("Brisomel").
CCadeloApp::CCadeloApp() : CWinApp(nullptr) {}

const fw::CommandMap* CCadeloApp::GetCommandMap() const {
  static const fw::CommandMap map(CWinApp::GetCommandMap(),
                                  {
                                      fw::OnCommand(ID_APP_ABOUT, &CCadeloApp::OnAppAbout),
                                      fw::OnCommand(ID_FILE_NEW, &CWinApp::OnFileNew),
                                      fw::OnCommand(ID_FILE_OPEN, &CWinApp::OnFileOpen),
                                      fw::OnCommand(ID_FILE_PRINT_SETUP, &CWinApp::OnFilePrintSetup),
                                  });
  return &map;
}

BOOL CCadeloApp::InitInstance() {
  SetNoticeRoute([this](const std::string& text) { m_notifier.Notify(text); });
  if (!AfxSocketInit()) {
    AfxMessageBox(IDP_SOCKETS_INIT_FAILED);
    return FailWithoutSink();
  }
  if (!AfxOleInit()) {
    AfxMessageBox(IDP_OLE_INIT_FAILED);
    return FailWithoutSink();
  }

  Enable3dControls();
  SetRegistryKey("Brisomel");  // the framework's profile: Software\Brisomel\Brisomel
  LoadStdProfileSettings(4);

  auto* docTemplate = new CMultiDocTemplate(IDR_CADELTYPE, RUNTIME_CLASS(CCadeloDoc),
                                            RUNTIME_CLASS(CChildFrame), RUNTIME_CLASS(CCadeloView));
  AddDocTemplate(docTemplate);

  // One running process serves every automation client.
  m_server.ConnectTemplate(CLSID_CadeloDocument, docTemplate, FALSE);
  COleObjectFactory::RegisterAll();

  auto* mainFrame = new CMainFrame;
  if (!mainFrame->LoadFrame(IDR_MAINFRAME, kMainFrameStyle, nullptr, nullptr)) return FailWithoutSink();
  SetMainWnd(mainFrame);

  CCadeloCommandLineInfo cmdInfo;
  ParseCommandLine(cmdInfo);

  // Started by an automation client: serve it, with the main frame hidden.
  if (cmdInfo.m_bRunEmbedded || cmdInfo.m_bRunAutomated) {
    g_bNoSink = TRUE;
    return TRUE;
  }

  m_server.UpdateRegistry(OAT_DISPATCH_OBJECT);
  COleObjectFactory::UpdateRegistryAll(TRUE);

  if (cmdInfo.m_nShowCmd != kShowCmdHide) {
    g_bNoSink = TRUE;
    // On failure the user has seen the settings store's message.
    if (!EnsureSettingsAndRegisterAddin()) return FALSE;
  } else if (!ClaimHiddenAgentRole()) {
    // Another hidden agent serves Outlook already: this one ends without a word.
    return FailWithoutSink();
  } else if (!ConnectOutlookSink()) {
    return FailWithoutSink();
  }

  if (!ProcessShellCommand(cmdInfo)) return FALSE;

  // Always the parsed show command, never the one Windows passed to the process.
  mainFrame->ShowWindow(cmdInfo.m_nShowCmd);
  mainFrame->UpdateWindow();
  return TRUE;
}

int CCadeloApp::ExitInstance() {
  DisconnectOutlookSinkIfConnected();
  SetNoticeRoute(nullptr);
  m_notifier.Stop();
  // The base class is not called: the recent-file list and the other profile settings are left
  // as they were at start, and the exit code is always 0.
  return 0;
}

void CCadeloApp::OnAppAbout() {
  CAboutDlg aboutDlg;
  aboutDlg.DoModal();
}
