#include <winsock2.h>  // before windows.h (through win_app.h), for AfxSocketInit

#include "agent/framework/ui/win_app.h"

#include <commctrl.h>

#include <string>

#include "agent/framework/ui/afx_ids.h"
#include "agent/framework/ui/document.h"
#include "agent/framework/ui/mdi_wnd.h"
#include "agent/framework/ui/recent_file_list.h"
#include "agent/framework/ui/template_server.h"

namespace {

CWinApp* runningApp = nullptr;
// The main window's handle, also for the threads that show the framework's message boxes.
HWND mainWindow = nullptr;

// Messages after which the idle work is due again (not paint, timers or a repeated mouse move).
bool IsIdleMessage(const MSG& msg) {
  static POINT lastMouse{-1, -1};
  static UINT lastMouseMessage = 0;
  if (msg.message == WM_MOUSEMOVE || msg.message == WM_NCMOUSEMOVE) {
    if (lastMouseMessage == msg.message && lastMouse.x == msg.pt.x && lastMouse.y == msg.pt.y) return false;
    lastMouse = msg.pt;
    lastMouseMessage = msg.message;
    return true;
  }
  return msg.message != WM_PAINT && msg.message != WM_TIMER && msg.message != 0x0118 /* WM_SYSTIMER */;
}

// Started once; WSACleanup at process end balances it.
struct SocketLibrary {
  bool started = false;
  SocketLibrary() {
    WSADATA data{};
    started = ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
  }
  ~SocketLibrary() {
    if (started) ::WSACleanup();
  }
};

}  // namespace

CWinApp* AfxGetApp() { return runningApp; }
CWnd* AfxGetMainWnd() { return runningApp ? runningApp->m_pMainWnd : nullptr; }
HINSTANCE AfxGetInstanceHandle() {
  return runningApp && runningApp->m_hInstance ? runningApp->m_hInstance : ::GetModuleHandleA(nullptr);
}

CWinApp::CWinApp() { runningApp = this; }

CWinApp::~CWinApp() {
  template_.reset();
  if (m_hDevMode) ::GlobalFree(m_hDevMode);
  if (m_hDevNames) ::GlobalFree(m_hDevNames);
  if (runningApp == this) runningApp = nullptr;
}

const fw::CommandMap* CWinApp::GetCommandMap() const {
  static const fw::CommandMap map(CCmdTarget::GetCommandMap(),
                                  {
                                      fw::OnCommandRange(ID_FILE_MRU_FIRST, ID_FILE_MRU_LAST, &CWinApp::OnOpenRecentFile),
                                      fw::OnUpdateCommandUI(ID_FILE_MRU_FILE1, &CWinApp::OnUpdateRecentFileMenu),
                                      fw::OnCommand(ID_APP_EXIT, &CWinApp::OnAppExit),
                                  });
  return &map;
}

void CWinApp::SetMainWnd(CWnd* wnd) {
  m_pMainWnd = wnd;
  mainWindow = wnd ? wnd->m_hWnd : nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return exitCode; }

BOOL CWinApp::PreTranslateMessage(MSG* msg) {
  // Offer the message to the framework windows from its target up to the main window.
  HWND main = m_pMainWnd ? m_pMainWnd->m_hWnd : nullptr;
  for (HWND hwnd = msg->hwnd; hwnd; hwnd = ::GetParent(hwnd)) {
    if (CWnd* wnd = CWnd::FromHandle(hwnd)) {
      if (wnd->PreTranslateMessage(msg)) return TRUE;
    }
    if (hwnd == main) return FALSE;
  }
  // A message for a window outside the main frame (e.g. the thread's own) still gets the main
  // frame's accelerators when the main frame is the active window.
  if (m_pMainWnd && m_pMainWnd->m_hWnd && msg->hwnd == nullptr) return m_pMainWnd->PreTranslateMessage(msg);
  return FALSE;
}

void CWinApp::OnIdle() {
  if (auto* frame = dynamic_cast<CFrameWnd*>(m_pMainWnd)) {
    if (frame->m_hWnd) frame->OnIdleUpdateCmdUI();
  }
}

int CWinApp::Run() {
  bool idle = true;
  MSG msg;
  for (;;) {
    if (idle && !::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      OnIdle();
      idle = false;
    }
    do {
      const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
      if (got == 0) exitCode = static_cast<int>(msg.wParam);
      if (got == 0 || got == -1) return ExitInstance();
      if (!PreTranslateMessage(&msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
      if (IsIdleMessage(msg)) idle = true;
    } while (::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  }
}

// ---- profile -------------------------------------------------------------------------------

void CWinApp::SetRegistryKey(const char* key) {
  if (!key || !*key) return;
  profileKey_ = std::string("Software\\") + key + "\\" + fw::AppTitle();
}

void CWinApp::LoadStdProfileSettings(UINT nMaxMRU) {
  if (nMaxMRU == 0) return;
  m_pRecentFileList = std::make_unique<CRecentFileList>(static_cast<int>(nMaxMRU));
  m_pRecentFileList->ReadList(profileKey_);
}

// ---- documents -----------------------------------------------------------------------------

void CWinApp::AddDocTemplate(CDocTemplate* pTemplate) {
  if (pTemplate) template_.reset(pTemplate);
}

CDocument* CWinApp::OpenDocumentFile(const char* path) {
  if (!template_ || !path) return nullptr;
  const std::string name = fw::FullPath(path);
  // An open document of that file gets its window activated instead of a second copy.
  for (CDocument* doc : template_->GetDocuments()) {
    if (!doc->GetPathName().empty() && lstrcmpiA(doc->GetPathName().c_str(), name.c_str()) == 0) {
      if (!doc->GetViews().empty()) {
        if (auto* frame = dynamic_cast<CMDIChildWnd*>(doc->GetViews().front()->GetParentFrame())) {
          frame->ActivateFrame();
        }
      }
      return doc;
    }
  }
  return template_->OpenDocumentFile(name.c_str());
}

void CWinApp::CloseAllDocuments() {
  if (template_) template_->CloseAllDocuments();
}

void CWinApp::OnFileNew() {
  if (!template_) {
    AfxMessageBox(fw::LoadStringResource(AFX_IDP_FAILED_TO_CREATE_DOC, "Failed to create empty document."));
    return;
  }
  template_->OpenDocumentFile(nullptr);
}

void CWinApp::OnFileOpen() {
  std::string name;
  if (!DoPromptFileName(name, TRUE)) return;
  OpenDocumentFile(name.c_str());
}

BOOL CWinApp::OnOpenRecentFile(UINT nID) {
  if (!m_pRecentFileList) return FALSE;
  const int index = static_cast<int>(nID - ID_FILE_MRU_FIRST);
  if (index < 0 || index >= m_pRecentFileList->GetSize()) return FALSE;
  const std::string path = (*m_pRecentFileList)[index];
  if (path.empty()) return FALSE;
  if (!OpenDocumentFile(path.c_str())) m_pRecentFileList->Remove(index);
  return TRUE;
}

void CWinApp::OnUpdateRecentFileMenu(CCmdUI* pCmdUI) {
  if (!m_pRecentFileList) {
    pCmdUI->Enable(FALSE);
    return;
  }
  m_pRecentFileList->UpdateMenu(pCmdUI);
}

void CWinApp::OnAppExit() {
  if (m_pMainWnd && m_pMainWnd->m_hWnd) m_pMainWnd->SendMessage(WM_CLOSE);
}

// ---- command line --------------------------------------------------------------------------

void CWinApp::ParseArguments(CCommandLineInfo& rCmdInfo, const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    const char* param = args[i].c_str();
    BOOL flag = FALSE;
    const BOOL last = i + 1 == args.size();
    if (param[0] == '-' || param[0] == '/') {
      flag = TRUE;
      ++param;  // only the one character
    }
    rCmdInfo.ParseParam(param, flag, last);
  }
}

void CWinApp::ParseCommandLine(CCommandLineInfo& rCmdInfo) {
  // The C runtime's split of the command line (argv), without the program name.
  std::vector<std::string> args;
  for (int i = 1; i < __argc; ++i) args.emplace_back(__argv[i] ? __argv[i] : "");
  ParseArguments(rCmdInfo, args);
}

BOOL CWinApp::ProcessShellCommand(CCommandLineInfo& rCmdInfo) {
  if (rCmdInfo.m_nShellCommand == CCommandLineInfo::FileOpen) {
    return OpenDocumentFile(rCmdInfo.m_strFileName.c_str()) != nullptr;
  }
  const size_t before = template_ ? template_->GetDocuments().size() : 0;
  if (!OnCmdMsg(ID_FILE_NEW, CN_COMMAND, nullptr)) OnFileNew();
  const size_t after = template_ ? template_->GetDocuments().size() : 0;
  return after > before && m_pMainWnd != nullptr;
}

// ---- printer and file dialogs ----------------------------------------------------------------

BOOL CWinApp::GetPrinterDeviceDefaults(PRINTDLGA* pd) {
  if (!m_hDevNames) {
    PRINTDLGA probe{};
    probe.lStructSize = sizeof probe;
    probe.Flags = PD_RETURNDEFAULT;
    if (!::PrintDlgA(&probe)) return FALSE;
    m_hDevMode = probe.hDevMode;
    m_hDevNames = probe.hDevNames;
  }
  pd->hDevMode = m_hDevMode;
  pd->hDevNames = m_hDevNames;
  return TRUE;
}

INT_PTR CWinApp::DoPrintDialog(PRINTDLGA* pd) {
  GetPrinterDeviceDefaults(pd);  // start from the current choice, if any
  if (!pd->hwndOwner && m_pMainWnd && m_pMainWnd->IsWindowVisible()) pd->hwndOwner = m_pMainWnd->m_hWnd;
  const BOOL ok = ::PrintDlgA(pd);
  // The dialog may have replaced the device data: keep whatever it hands back.
  if (pd->hDevMode != m_hDevMode && m_hDevMode) ::GlobalFree(m_hDevMode);
  if (pd->hDevNames != m_hDevNames && m_hDevNames) ::GlobalFree(m_hDevNames);
  m_hDevMode = pd->hDevMode;
  m_hDevNames = pd->hDevNames;
  return ok ? IDOK : IDCANCEL;
}

void CWinApp::OnFilePrintSetup() {
  PRINTDLGA pd{};
  pd.lStructSize = sizeof pd;
  pd.Flags = PD_PRINTSETUP;
  DoPrintDialog(&pd);
}

BOOL CWinApp::DoPromptFileName(std::string& fileName, BOOL bOpenFileDialog) {
  std::string filter;
  std::string defaultExt;
  if (CDocTemplate* t = template_.get()) {
    const std::string name = t->GetDocString(CDocTemplate::filterName);
    const std::string ext = t->GetDocString(CDocTemplate::filterExt);
    if (!name.empty() && !ext.empty()) {
      filter += name;
      filter += '\0';
      filter += "*" + ext;
      filter += '\0';
      defaultExt = ext.substr(ext[0] == '.' ? 1 : 0);
    }
  }
  filter += fw::LoadStringResource(AFX_IDS_ALLFILTER, "All Files (*.*)");
  filter += '\0';
  filter += "*.*";
  filter += '\0';
  filter += '\0';

  char buffer[MAX_PATH * 2] = {};
  lstrcpynA(buffer, fileName.c_str(), sizeof buffer);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = m_pMainWnd && m_pMainWnd->IsWindowVisible() ? m_pMainWnd->m_hWnd : nullptr;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = sizeof buffer;
  ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
  ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR |
              (bOpenFileDialog ? OFN_FILEMUSTEXIST : OFN_OVERWRITEPROMPT);
  const BOOL ok = bOpenFileDialog ? ::GetOpenFileNameA(&ofn) : ::GetSaveFileNameA(&ofn);
  if (ok) fileName = buffer;
  return ok;
}

// ---- entry ---------------------------------------------------------------------------------

namespace fw {

HWND GetMainWindowHandle() { return mainWindow; }

int RunApplication(HINSTANCE instance) {
  CWinApp* app = AfxGetApp();
  if (!app) return -1;
  app->m_hInstance = instance;

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&controls);

  int code = 0;
  if (!app->InitInstance()) {
    if (app->m_pMainWnd && app->m_pMainWnd->m_hWnd) app->m_pMainWnd->DestroyWindow();
    app->SetMainWnd(nullptr);
    code = app->ExitInstance();
  } else {
    code = app->Run();
  }
  COleTemplateServer::RevokeAll();
  return code;
}

std::string Prompt(UINT id, const char* fallback, std::initializer_list<std::string> inserts) {
  std::string text = LoadStringResource(id, fallback);
  int number = 1;
  for (const std::string& insert : inserts) {
    const std::string mark = "%" + std::to_string(number++);
    const size_t at = text.find(mark);
    if (at != std::string::npos) text.replace(at, mark.size(), insert);
  }
  return text;
}

std::string FullPath(const char* path) {
  char full[MAX_PATH * 2] = {};
  return ::GetFullPathNameA(path, sizeof full, full, nullptr) > 0 ? std::string(full) : std::string(path);
}

BOOL PumpWaitingMessages() {
  CWinApp* app = AfxGetApp();
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return FALSE;
    }
    if (app && app->PreTranslateMessage(&msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  if (app) app->OnIdle();
  return TRUE;
}

}  // namespace fw

// ---- command line --------------------------------------------------------------------------

void CCommandLineInfo::ParseParam(const char* pszParam, BOOL bFlag, BOOL bLast) {
  if (!bFlag && m_strFileName.empty() && pszParam) m_strFileName = pszParam;
  if (bLast && m_nShellCommand == FileNew && !m_strFileName.empty()) m_nShellCommand = FileOpen;
}

// ---- message box and sockets ---------------------------------------------------------------

int AfxMessageBox(const std::string& text, UINT type) {
  HWND owner = fw::GetMainWindowHandle();
  // While a modal dialog of the main window is up, the box belongs to that dialog.
  if (owner && IsWindow(owner)) owner = GetLastActivePopup(owner);
  // A hidden or disabled owner would leave the box without a usable parent (hidden mode).
  if (owner && (!IsWindow(owner) || !IsWindowVisible(owner) || !IsWindowEnabled(owner))) owner = nullptr;
  // Like the system's own notices: a message without an icon gets the exclamation mark. (The
  // framework's one question, whether to save, brings its own icon.)
  if ((type & MB_ICONMASK) == 0 && (type & MB_TYPEMASK) == MB_OK) type |= MB_ICONEXCLAMATION;
  return MessageBoxA(owner, text.c_str(), fw::AppTitle().c_str(), type);
}

BOOL AfxSocketInit() {
  static SocketLibrary library;
  return library.started ? TRUE : FALSE;
}
