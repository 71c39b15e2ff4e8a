#pragma once
// The application: CWinApp, the one application object, with its title, main window, profile and
// command line (CCommandLineInfo), and the framework's message box. Construct exactly one
// CWinApp (a global); the framework's WinMain sets its handle and title, calls InitInstance and
// then either runs the message loop (TRUE) or destroys the main window if any (FALSE);
// ExitInstance's result is the exit code.
#include <windows.h>
#include <commdlg.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "agent/framework/shared.h"
#include "agent/framework/ui/cmd_target.h"

class CCommandLineInfo;
class CDocTemplate;
class CDocument;
class CRecentFileList;
class CWnd;

class CWinApp : public CCmdTarget {
 public:
  // The title comes from string 57344 (AFX_IDS_APP_TITLE), else the exe's name.
  CWinApp();
  ~CWinApp() override;  // deletes the document template

  HINSTANCE m_hInstance = nullptr;
  CWnd* m_pMainWnd = nullptr;      // set through SetMainWnd
  std::unique_ptr<CRecentFileList> m_pRecentFileList;

  // Sets m_pMainWnd and the framework's main window handle, fw::GetMainWindowHandle (null to
  // clear).
  void SetMainWnd(CWnd* wnd);

  virtual BOOL InitInstance();
  // Default: returns WM_QUIT's code. The profile (recent-file list) is only read, never written.
  virtual int ExitInstance();
  // The message loop with idle processing; returns ExitInstance().
  virtual int Run();
  // Idle work, once each time the queue runs empty: the main frame's command UI (toolbar, status
  // bar, captions).
  void OnIdle();
  // Accelerators of the main frame (and MDI system keys) before dispatch.
  virtual BOOL PreTranslateMessage(MSG* msg);
  int exitCode = 0;  // WM_QUIT's code

  // Sets the profile to HKCU\Software\<key>\<application title>.
  void SetRegistryKey(const char* key);
  // Reads the recent-file list (nMaxMRU entries) from the profile.
  void LoadStdProfileSettings(UINT nMaxMRU = 4);

  // The application's one document template (owned by the application).
  void AddDocTemplate(CDocTemplate* pTemplate);
  CDocTemplate* GetDocTemplate() const { return template_.get(); }
  // Opens `path` (activating its window when it is open already); null on failure after the
  // framework's message.
  CDocument* OpenDocumentFile(const char* path);
  void CloseAllDocuments();

  // Command line: ParseParam for each argument of the process's command line (C runtime split).
  void ParseCommandLine(CCommandLineInfo& rCmdInfo);
  // The same with given arguments (after the program name).
  static void ParseArguments(CCommandLineInfo& rCmdInfo, const std::vector<std::string>& args);
  // FileNew: OnFileNew, FALSE if no document was created; FileOpen: OpenDocumentFile, FALSE when
  // it fails (after the framework's message).
  BOOL ProcessShellCommand(CCommandLineInfo& rCmdInfo);

  // Framework handlers. The base map binds only the recent files and Exit; bind New, Open and
  // Print Setup in the application's own map.
  void OnFileNew();
  void OnFileOpen();
  void OnFilePrintSetup();
  void OnAppExit();
  BOOL OnOpenRecentFile(UINT nID);
  void OnUpdateRecentFileMenu(CCmdUI* pCmdUI);

  // The application's printer (HGLOBALs owned by the application).
  BOOL GetPrinterDeviceDefaults(PRINTDLGA* pd);
  // Runs PrintDlg with the application's printer and keeps the choice.
  INT_PTR DoPrintDialog(PRINTDLGA* pd);
  HGLOBAL m_hDevMode = nullptr;
  HGLOBAL m_hDevNames = nullptr;

  // The File Open / Save As dialog; FALSE when cancelled.
  BOOL DoPromptFileName(std::string& fileName, BOOL bOpenFileDialog);

 protected:
  const fw::CommandMap* GetCommandMap() const override;

 private:
  std::unique_ptr<CDocTemplate> template_;
  std::string profileKey_;  // Software\<key>\<title>, empty before SetRegistryKey
};

// The application object (null before it is constructed).
CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();

namespace fw {
// What the framework's WinMain does: sets the application's instance handle and title,
// InitInstance, Run or clean-up, then COleTemplateServer::RevokeAll; returns the exit code.
int RunApplication(HINSTANCE instance);
// Dispatches waiting messages (accelerators applied) and then runs the idle work once, without
// blocking; for tests and nested waits. FALSE when WM_QUIT was seen (it is re-posted).
BOOL PumpWaitingMessages();
}  // namespace fw

// CCommandLineInfo: the parsed command line. CWinApp::ParseCommandLine calls ParseParam once per
// argument after the program name (split like the C runtime's argv); flags ('/' or '-' first)
// arrive without that one first character and bFlag TRUE.
class CCommandLineInfo {
 public:
  virtual ~CCommandLineInfo() = default;

  enum { FileNew, FileOpen } m_nShellCommand = FileNew;
  std::string m_strFileName;

  // Base behaviour: the first plain argument becomes m_strFileName (later ones are ignored); at
  // the last argument a recorded file name turns FileNew into FileOpen. Flags mean nothing to the
  // framework: its own switches are left to the application's record.
  virtual void ParseParam(const char* pszParam, BOOL bFlag, BOOL bLast);
};

namespace fw {

// The main window of the application object running on this (the only) thread: the main frame
// once start-up has created it (SetMainWnd), null before.
HWND GetMainWindowHandle();
// Framework string `id` (else `fallback`) with its %1, %2 ... replaced by `inserts`.
std::string Prompt(UINT id, const char* fallback, std::initializer_list<std::string> inserts);
// `path` as a full path; `path` itself when it has none.
std::string FullPath(const char* path);

}  // namespace fw

// The framework's message box: modal, captioned with the application title, owned by the
// application's main window (fw::GetMainWindowHandle) when there is one.
int AfxMessageBox(const std::string& text, UINT type = MB_OK);

// Windows Sockets start-up for the application (version 1.1), cleaned up at process end; FALSE
// when Windows Sockets cannot be initialised.
BOOL AfxSocketInit();
