#include "agent/shell/cadelo_app.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <utility>

#include "agent/calls/follow_handover.h"
#include "agent/calls/ole_date.h"
#include "agent/calls/reminder_call.h"
#include "agent/calls/settings_store.h"
#include "agent/framework/ole/ole.h"
#include "agent/outlook/start_ledger.h"
#include "agent/res/resource.h"
#include "agent/shell/cadelo_doc.h"
#include "agent/shell/child_frame.h"
#include "agent/shell/main_frame.h"
#include "common/settings_key.h"
#include "common/win/handles.h"
#include "common/wide_text.h"

// {B27E5F90-4C1A-4D3E-8F62-07A9D3C15E4B}
const CLSID CLSID_CadeloDocument = {0xB27E5F90, 0x4C1A, 0x4D3E, {0x8F, 0x62, 0x07, 0xA9, 0xD3, 0xC1, 0x5E, 0x4B}};

namespace {

constexpr DWORD kMainFrameStyle = WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE;
static_assert(kMainFrameStyle == 0x00CF8000, "main frame style");

// Writes the value only when it does not exist; whatever exists (any type or size) stays.
void WriteIfMissing(HKEY key, const char* name, DWORD type, const void* data, DWORD size) {
  if (::RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND) return;
  ::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
}

void WriteTextIfMissing(HKEY key, const char* name, const char* text) {
  WriteIfMissing(key, name, REG_SZ, text, static_cast<DWORD>(std::char_traits<char>::length(text) + 1));
}

// The full path of the running program, however long, in UTF-16: a folder such as
// C:\Users\<name> may hold characters that the ANSI code page lacks.
WideText ProgramPath() {
  WideText path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(AfxGetInstanceHandle(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return WideText();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: try again with room to spare
  }
}

// The program `path` names, as the add-in reads it (a REG_EXPAND_SZ expanded), or nothing when
// it cannot be read. *expandable tells whether it is stored as REG_EXPAND_SZ.
WideText StoredProgramPath(HKEY key, bool* expandable = nullptr) {
  wchar_t stored[2048] = {};
  DWORD size = sizeof stored - sizeof(wchar_t);  // room for a NUL the value may lack
  DWORD type = REG_NONE;
  if (::RegQueryValueExW(key, settings_key::kProgramPathW, nullptr, &type, reinterpret_cast<BYTE*>(stored), &size) != ERROR_SUCCESS) {
    return WideText();
  }
  if (expandable) *expandable = type == REG_EXPAND_SZ;
  if (type != REG_EXPAND_SZ) return stored;
  wchar_t expanded[2048] = {};
  const DWORD length = ::ExpandEnvironmentStringsW(stored, expanded, sizeof expanded / sizeof expanded[0]);
  return length == 0 || length > sizeof expanded / sizeof expanded[0] ? WideText() : WideText(expanded);
}

bool NamesThisProgram(const WideText& stored, const WideText& program) {
  return ::CompareStringOrdinal(stored.c_str(), -1, program.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Settings that IT deployed read-only are used as they are: the program still starts and works.
// Only a `path` that names another program (or none) matters, as the add-in starts what it names:
// the user is told once, with the system's reason.
void TellPathNotRecorded(long error) {
  Notifier::Show("Cannot record the location of Brisomel in registry." + SystemErrorText(error));
}

// Gives the missing settings their defaults, as every start does for a user who has none yet.
void WriteMissingDefaults(HKEY key) {
  WriteTextIfMissing(key, settings_key::kHost, settings_key::kDefaultHost);
  const DWORD defaultPort = settings_key::kDefaultPort;
  WriteIfMissing(key, settings_key::kPort, REG_DWORD, &defaultPort, sizeof defaultPort);
  WriteTextIfMissing(key, settings_key::kMyNumber, "");
  WriteTextIfMissing(key, settings_key::kFirstName, "");
  WriteTextIfMissing(key, settings_key::kLastName, "");
}

// A per-machine installation records its program under HKEY_LOCAL_MACHINE; it registers the
// add-in for every user, and the add-in starts that program for users whose settings name none.
bool InstalledForTheMachine(const WideText& program) {
  win::RegKey machine;
  if (machine.Open(HKEY_LOCAL_MACHINE, settings_key::kPath, KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
  return NamesThisProgram(StoredProgramPath(machine.get()), program);
}

// The hidden start of a user who never opened Brisomel (a per-machine installation needs no
// start of the user's own): the settings key and its defaults, quietly; a reminder call says
// what it cannot read.
void EnsureSettings() {
  win::RegKey key;
  const LONG opened = key.Open(HKEY_CURRENT_USER, settings_key::kPath, KEY_QUERY_VALUE | KEY_SET_VALUE);
  if (opened == ERROR_FILE_NOT_FOUND) {
    if (!CreateSettingsKey(&key)) return;
  } else if (opened != ERROR_SUCCESS) {
    return;
  }
  WriteMissingDefaults(key.get());
}

// The visible start's registration: gives missing settings their defaults, writes the program's
// full path as `path` and starts regsvr32.exe on mervane.dll in the program's folder (not waited
// for). Fails when the settings key could be neither opened nor created. Settings that may be
// read but not written are left as they are and the start goes on. A per-machine installation's
// program leaves the add-in's registration and its location to the installation: nothing of the
// user's then names the machine's files, which its removal takes away.
Outcome EnsureSettingsAndRegisterAddin() {
  const WideText program = ProgramPath();
  const bool forTheMachine = InstalledForTheMachine(program);
  win::RegKey key;
  const LONG opened = key.Open(HKEY_CURRENT_USER, settings_key::kPath, KEY_QUERY_VALUE | KEY_SET_VALUE);
  if (opened == ERROR_FILE_NOT_FOUND) {
    Outcome created = CreateSettingsKey(&key);
    if (!created) return created;
  } else if (opened != ERROR_SUCCESS) {
    win::RegKey readOnly;
    readOnly.Open(HKEY_CURRENT_USER, settings_key::kPath, KEY_QUERY_VALUE);
    if (!forTheMachine && (!readOnly || !NamesThisProgram(StoredProgramPath(readOnly.get()), program))) {
      TellPathNotRecorded(opened);
    }
  }

  if (key) WriteMissingDefaults(key.get());
  if (forTheMachine) return Outcome::Done();

  if (key) {
    // The add-in reads this to start the program; renewed at every visible start (as REG_SZ,
    // read with the wide API), except where an administrator's REG_EXPAND_SZ names this program
    // already: that per-user form stays.
    bool expandable = false;
    if (!NamesThisProgram(StoredProgramPath(key.get(), &expandable), program) || !expandable) {
      const LONG written = ::RegSetValueExW(key.get(), settings_key::kProgramPathW, 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(program.c_str()),
                                            static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
      if (written != ERROR_SUCCESS) TellPathNotRecorded(written);
    }
  }

  // Quoted, so that a folder with blanks reaches regsvr32 as one argument. regsvr32 reports the
  // outcome in its own message box; it is not waited for.
  const WideText parameters = QuoteArgument(AddinPathBeside(program));
  ::ShellExecuteW(nullptr, L"open", L"regsvr32.exe", parameters.c_str(), nullptr, SW_SHOWNORMAL);
  return Outcome::Done();
}

}  // namespace

// No application name: the title comes from the string table ("Brisomel").
// The role's answer holds from the claim on, while this agent still connects ("starting"): a
// second agent must not take over from one that Outlook keeps waiting.
CCadeloApp::CCadeloApp()
    : follower_([this](const std::string& text, std::function<void()> onRead) {
        notifier_.NotifyOutcome(text, std::move(onRead));
      }),
      outlook_([this](const std::string& text) { notifier_.Notify(text); }, &reminders_, CurrentLocalOleDate),
      roleAnswer_([this](uint32_t outlookPid) {
        const uint32_t served = outlookProcess_.Pid();
        return !outlookEnded_ && (outlookPid == 0 || served == 0 || outlookPid == served);
      }) {}

CMainFrame::ReminderPath CCadeloApp::ReminderPath() {
  CMainFrame::ReminderPath path;
  path.handOver = &reminders_;
  path.called = &called_;
  path.clock = CurrentLocalOleDate;
  path.tell = [this](const Outcome& outcome) { notifier_.Notify(outcome.Message()); };
  path.follow = [this](FollowedCall call) { follower_.Follow(std::move(call)); };
  path.outlookEnded = [this] { OnOutlookEnded(); };
  return path;
}

void CCadeloApp::OnOutlookEnded() {
  outlookEnded_ = true;
  outlookProcess_.StopWatching();
  outlook_.Disconnect();
  // Outlook's session is over: what it called concerns no later agent.
  called_.Remove();
  // Behind the wake-ups of the records already queued: those calls are made first.
  if (const HWND frame = fw::GetMainWindowHandle()) ::PostMessageA(frame, WM_CLOSE, 0, 0);
}

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
  if (!AfxSocketInit()) {
    Notifier::Show(fw::LoadStringResource(IDP_SOCKETS_INIT_FAILED));
    return FALSE;
  }
  if (!AfxOleInit()) {
    Notifier::Show(fw::LoadStringResource(IDP_OLE_INIT_FAILED));
    return FALSE;
  }

  SetRegistryKey("Brisomel");  // the framework's profile: Software\Brisomel\Brisomel
  LoadStdProfileSettings(4);

  auto* docTemplate = new CMultiDocTemplate(IDR_CADELTYPE, RUNTIME_CLASS(CCadeloDoc),
                                            RUNTIME_CLASS(CChildFrame), RUNTIME_CLASS(CCadeloView));
  AddDocTemplate(docTemplate);

  // One running process serves every automation client.
  m_server.ConnectTemplate(CLSID_CadeloDocument, docTemplate, FALSE);
  COleTemplateServer::RegisterAll();

  auto* mainFrame = new CMainFrame;
  if (!mainFrame->LoadFrame(IDR_MAINFRAME, kMainFrameStyle)) return FALSE;
  SetMainWnd(mainFrame);
  mainFrame->SetReminderPath(ReminderPath());
  reminders_.SetTarget(mainFrame->m_hWnd);

  CCadeloCommandLineInfo cmdInfo;
  ParseCommandLine(cmdInfo);

  m_server.UpdateRegistry();

  // What ends the start is shown before it ends, and waited for: the user reads why.
  if (cmdInfo.m_nShowCmd != kShowCmdHide) {
    const Outcome registered = EnsureSettingsAndRegisterAddin();
    if (!registered) {
      Notifier::Show(registered.Message());
      return FALSE;
    }
  } else {
    EnsureSettings();
    // An Outlook that has ended already is not started again by this agent.
    if (outlookProcess_.Open(cmdInfo.outlookPid, cmdInfo.outlookCreated) == OutlookProcess::State::Gone) {
      return FALSE;
    }
    const HiddenRole role = ClaimHiddenAgentRole(outlookProcess_.Pid());
    // Another hidden agent serves Outlook already: this one ends without a word.
    if (role == HiddenRole::Served) return FALSE;
    roleAnswer_.Create();
    const HWND frame = mainFrame->m_hWnd;
    outlook_.SetEnded([frame] { ::PostMessageA(frame, kOutlookEndedMessage, 0, 0); });
    outlookProcess_.Watch(frame, kOutlookEndedMessage);
    // Started otherwise than by the add-in: the Outlook reached is looked for, so that this agent,
    // too, ends with it and shares its session's record.
    const auto reached = [this, frame] {
      uint32_t pid = 0;
      uint64_t created = 0;
      if (!outlookProcess_.Pid() && OutlookProcess::FindServing(&pid, &created) &&
          outlookProcess_.Open(pid, created) == OutlookProcess::State::Running) {
        outlookProcess_.Watch(frame, kOutlookEndedMessage);
      }
      if (outlookProcess_.Pid()) called_.Open(outlookProcess_.Pid(), outlookProcess_.Created());
    };
    outlook_.Sink().SetRecord(&called_);
    if (const Outcome connected = outlook_.Connect(reached); !connected) {
      // An Outlook that ended meanwhile is no news to the user.
      if (!outlookProcess_.Ended()) Notifier::Show(connected.Message());
      return FALSE;
    }
    if (role == HiddenRole::TakenOver) notifier_.Notify(kRoleTakenOver);
    // What an earlier agent of this user still followed is followed here, to be told once.
    for (FollowedCall& call : TakeFollowedCalls()) follower_.Follow(std::move(call));
  }

  if (!ProcessShellCommand(cmdInfo)) return FALSE;

  // Always the parsed show command, never the one Windows passed to the process.
  mainFrame->ShowWindow(cmdInfo.m_nShowCmd);
  mainFrame->UpdateWindow();
  return TRUE;
}

int CCadeloApp::ExitInstance() {
  outlookProcess_.StopWatching();
  outlook_.Disconnect();
  // What it still follows stays noted for the next agent (follow_handover.h); from here on this
  // agent tells nothing of those calls.
  follower_.Stop();
  notifier_.Stop();
  // The base class is not called: the recent-file list and the other profile settings are left
  // as they were at start, and the exit code is always 0.
  return 0;
}

void CCadeloApp::OnAppAbout() {
  CAboutDlg aboutDlg;
  aboutDlg.DoModal();
}

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

void CCadeloCommandLineInfo::ParseParam(const char* pszParam, BOOL bFlag, BOOL bLast) {
  if (TakeArgument(pszParam, bFlag != FALSE)) CCommandLineInfo::ParseParam(pszParam, FALSE, bLast);
}
