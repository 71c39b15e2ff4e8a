#pragma once
// CWinApp: the one application object. Construct exactly one (a global); the framework's WinMain
// sets its handles and title, calls InitInstance and then either runs the message loop (TRUE)
// or destroys the main window if any (FALSE); ExitInstance's result is the exit code.
#include <windows.h>
#include <commdlg.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/framework/cmd_target.h"
#include "agent/framework/command_line_info.h"
#include "common/win/handles.h"

class CCommandLineInfo;
class CDocTemplate;
class CDocument;
class CRecentFileList;
class CWnd;

class CWinApp : public CCmdTarget {
 public:
  // appName null: the title comes from string 57344 (AFX_IDS_APP_TITLE), else the exe's name.
  explicit CWinApp(const char* appName = nullptr);
  ~CWinApp() override;  // deletes the document templates

  HINSTANCE m_hInstance = nullptr;
  const char* m_lpCmdLine = "";
  int m_nCmdShow = SW_SHOWNORMAL;  // what Windows passed to the process
  CWnd* m_pMainWnd = nullptr;      // setting it also sets fw::SetMainWindowHandle / message box owner
  std::string m_strAppName;        // the application title
  std::string m_strRegistryKey;    // "Brisomel" after SetRegistryKey("Brisomel")
  std::string m_strProfileName;    // the title: profile under Software\<key>\<title>
  std::unique_ptr<CRecentFileList> m_pRecentFileList;

  // Sets m_pMainWnd and the framework's main window handle (null to clear).
  void SetMainWnd(CWnd* wnd);

  virtual BOOL InitInstance();
  // Default: writes the profile settings (recent-file list) and returns 0.
  virtual int ExitInstance();
  // The message loop with idle processing; returns ExitInstance().
  virtual int Run();
  // Idle work: lCount 0 updates the main frame's command UI (toolbar, status bar, captions).
  // TRUE when more idle time is wanted.
  virtual BOOL OnIdle(LONG lCount);
  // Accelerators of the main frame (and MDI system keys) before dispatch.
  virtual BOOL PreTranslateMessage(MSG* msg);
  // One GetMessage/translate/dispatch; FALSE on WM_QUIT.
  virtual BOOL PumpMessage();
  int m_nExitCode = 0;  // WM_QUIT's code

  // Sets the profile to HKCU\Software\<key>\<application title>.
  void SetRegistryKey(const char* key);
  // Reads the recent-file list (nMaxMRU entries) from the profile.
  void LoadStdProfileSettings(UINT nMaxMRU = 4);
  // Writes the recent-file list back (the base ExitInstance does).
  void SaveStdProfileSettings();
  std::string GetProfileString(const char* section, const char* entry, const char* defaultValue = "");
  BOOL WriteProfileString(const char* section, const char* entry, const char* value);
  UINT GetProfileInt(const char* section, const char* entry, int defaultValue);
  BOOL WriteProfileInt(const char* section, const char* entry, int value);
  // HKCU\Software\<key>\<profile> (created), or invalid without SetRegistryKey.
  win::RegKey GetAppRegistryKey();
  win::RegKey GetSectionKey(const char* section);
  // Nothing to do on current systems; kept for the start-up sequence. Returns TRUE.
  BOOL Enable3dControls() { return TRUE; }

  // Document templates (owned by the application).
  void AddDocTemplate(CDocTemplate* pTemplate);
  const std::vector<CDocTemplate*>& GetDocTemplates() const { return templates_; }
  // Opens `path` (activating its window when it is open already); null on failure after the
  // framework's message.
  virtual CDocument* OpenDocumentFile(const char* path);
  virtual void AddToRecentFileList(const char* path);
  void CloseAllDocuments(BOOL bEndSession);
  BOOL SaveAllModified();

  // Command line: ParseParam for each argument of the process's command line (C runtime split).
  void ParseCommandLine(CCommandLineInfo& rCmdInfo);
  // The same with given arguments (after the program name).
  static void ParseArguments(CCommandLineInfo& rCmdInfo, const std::vector<std::string>& args);
  // FileNew: OnFileNew, FALSE if no document was created; FileOpen: OpenDocumentFile, FALSE when
  // it fails (after the framework's message); FileNothing: TRUE.
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
  BOOL DoPromptFileName(std::string& fileName, BOOL bOpenFileDialog, CDocTemplate* pTemplate);

 protected:
  const fw::CommandMap* GetCommandMap() const override;

 private:
  std::vector<CDocTemplate*> templates_;
  MSG msgCur_{};
};

// The application object (null before it is constructed).
CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();

namespace fw {
// What the framework's WinMain does: sets the application's handles and title, InitInstance,
// Run or clean-up, then COleObjectFactory::RevokeAll; returns the exit code.
int RunApplication(HINSTANCE instance, const char* cmdLine, int nCmdShow);
// Text of string resource `id` of the executable; `fallback` when it has none.
std::string LoadStringResource(UINT id, const char* fallback = "");
// Dispatches waiting messages (accelerators applied) and then runs the idle work once, without
// blocking; for tests and nested waits. FALSE when WM_QUIT was seen (it is re-posted).
BOOL PumpWaitingMessages();
}  // namespace fw
