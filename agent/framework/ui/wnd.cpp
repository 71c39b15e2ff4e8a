#include "agent/framework/ui/wnd.h"

#include <unordered_map>
#include <utility>

#include "agent/framework/ui/afx_ids.h"
#include "agent/framework/ui/frame_wnd.h"
#include "agent/framework/ui/win_app.h"

namespace {

std::unordered_map<HWND, CWnd*>& WindowMap() {
  static std::unordered_map<HWND, CWnd*> map;
  return map;
}

// The object whose window CreateWindowEx is creating right now: bound to the first message that
// arrives for an unknown window (WM_GETMINMAXINFO or WM_NCCREATE come before CreateWindowEx
// returns).
CWnd* windowBeingCreated = nullptr;

// The message being handled, for Default(): saved per nesting level.
struct CurrentMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
thread_local CurrentMessage* currentMessage = nullptr;

}  // namespace

LRESULT CALLBACK FwWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = CWnd::FromHandle(hwnd);
  if (!wnd && windowBeingCreated) {
    wnd = std::exchange(windowBeingCreated, nullptr);
    wnd->Attach(hwnd);
  }
  if (!wnd) return ::DefWindowProcA(hwnd, message, wParam, lParam);

  CurrentMessage current{message, wParam, lParam};
  CurrentMessage* saved = std::exchange(currentMessage, &current);
  LRESULT result = 0;
  bool failed = false;
  try {
    result = wnd->WindowProc(message, wParam, lParam);
  } catch (...) {
    fw::ReportUnhandledException("a window procedure");
    failed = true;
  }
  currentMessage = saved;

  if (message == WM_NCDESTROY) {
    // The window is gone whatever its handlers did: the object lets go of it.
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == wnd) {
      // The main window is gone: the application ends.
      app->SetMainWnd(nullptr);
      ::PostQuitMessage(0);
    }
    wnd->Detach();
    try {
      if (!wnd->deleting_) wnd->PostNcDestroy();
    } catch (...) {
      fw::ReportUnhandledException("PostNcDestroy");
    }
  }
  return failed ? fw::AnswerFailedMessage(message) : result;
}

namespace fw {

const char* RegisterWindowClass(const char* name, UINT style, int background) {
  WNDCLASSA existing{};
  if (::GetClassInfoA(::GetModuleHandleA(nullptr), name, &existing)) return name;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.style = style;
  wc.lpfnWndProc = FwWindowProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background + 1));
  wc.lpszClassName = name;
  ::RegisterClassExA(&wc);
  return name;
}

LRESULT AnswerFailedMessage(UINT message) {
  if (message == WM_CREATE) return -1;
  if (message == WM_COMMAND) {
    try {
      AfxMessageBox(LoadStringResource(AFX_IDP_COMMAND_FAILURE, "Command failed."));
    } catch (...) {
      ReportUnhandledException("the failed command's message");
    }
  }
  return 0;
}

std::string WindowText(HWND window) {
  const int length = ::GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int got = ::GetWindowTextA(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

}  // namespace fw

CWnd::~CWnd() {
  deleting_ = true;
  if (m_hWnd && ::IsWindow(m_hWnd)) {
    if (superProc_) {  // a window we only borrowed gets its own procedure back
      ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(superProc_));
    } else {
      ::DestroyWindow(m_hWnd);
    }
  }
  if (m_hWnd) Detach();
}

CWnd* CWnd::FromHandle(HWND hwnd) {
  if (!hwnd) return nullptr;
  auto it = WindowMap().find(hwnd);
  return it == WindowMap().end() ? nullptr : it->second;
}

void CWnd::Attach(HWND hwnd) {
  m_hWnd = hwnd;
  WindowMap()[hwnd] = this;
}

void CWnd::Detach() {
  if (m_hWnd) WindowMap().erase(m_hWnd);
  m_hWnd = nullptr;
  superProc_ = nullptr;
}

BOOL CWnd::PreCreateWindow(CREATESTRUCTA& cs) {
  if (!cs.lpszClass) cs.lpszClass = fw::RegisterWindowClass("FwWnd");
  return TRUE;
}

BOOL CWnd::Create(const char* className, const char* windowName, DWORD dwStyle, const RECT& rect, CWnd* parent,
                  UINT nID, void* createParam) {
  CREATESTRUCTA cs{};
  cs.lpszClass = className;
  cs.lpszName = windowName;
  cs.style = static_cast<LONG>(dwStyle);
  cs.x = rect.left;
  cs.y = rect.top;
  cs.cx = rect.right - rect.left;
  cs.cy = rect.bottom - rect.top;
  cs.hwndParent = parent ? parent->m_hWnd : nullptr;
  cs.hMenu = (dwStyle & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)) : nullptr;
  cs.hInstance = GetModuleHandleA(nullptr);
  cs.lpCreateParams = createParam;
  return CreateFromStruct(cs);
}

BOOL CWnd::CreateFromStruct(CREATESTRUCTA& cs) {
  if (!PreCreateWindow(cs)) {
    PostNcDestroy();
    return FALSE;
  }
  CWnd* saved = std::exchange(windowBeingCreated, this);
  HWND hwnd = ::CreateWindowExA(cs.dwExStyle, cs.lpszClass, cs.lpszName, static_cast<DWORD>(cs.style), cs.x,
                                cs.y, cs.cx, cs.cy, cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
  windowBeingCreated = saved;
  // A failed creation has already run WM_NCDESTROY (and PostNcDestroy) if the window existed.
  return hwnd != nullptr;
}

BOOL CWnd::DestroyWindow() {
  if (!m_hWnd) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

void CWnd::PostNcDestroy() {}

BOOL CWnd::SubclassWindow(HWND hwnd) {
  if (!hwnd || FromHandle(hwnd)) return FALSE;
  Attach(hwnd);
  superProc_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FwWindowProc)));
  return TRUE;
}

LRESULT CWnd::Default() {
  if (!currentMessage) return 0;
  return DefWindowProc(currentMessage->message, currentMessage->wParam, currentMessage->lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (superProc_) return ::CallWindowProcA(superProc_, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(reinterpret_cast<LPCREATESTRUCTA>(lParam)) == -1 ? -1 : 0;
    case WM_COMMAND:
      if (OnCommand(wParam, lParam)) return 0;
      break;
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (OnNotify(wParam, lParam, &result)) return result;
      break;
    }
    case WM_SIZE:
      OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    default:
      break;
  }
  return DefWindowProc(message, wParam, lParam);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
  const UINT nID = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if (lParam == 0) {  // menu (code 0) or accelerator (code 1)
    if (nID == 0) return FALSE;
    // Checked against its update handler first: a command shown disabled cannot run through its
    // accelerator.
    CCmdUI state;
    state.m_nID = nID;
    OnCmdMsg(nID, CN_UPDATE_COMMAND_UI, &state);
    if (!state.enabled) return TRUE;  // disabled: swallowed
    return OnCmdMsg(nID, CN_COMMAND, nullptr);
  }
  // A control's notification: code 0 (a button click) counts as a command, other codes only
  // reach handlers of that code.
  return OnCmdMsg(nID, code, nullptr);
}

BOOL CWnd::OnNotify(WPARAM, LPARAM, LRESULT*) { return FALSE; }

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

int CWnd::OnCreate(LPCREATESTRUCTA) { return static_cast<int>(Default()); }

void CWnd::OnSize(UINT, int, int) { Default(); }

void CWnd::OnPaint() { Default(); }

void CWnd::OnClose() { Default(); }

CFrameWnd* CWnd::GetParentFrame() const {
  for (HWND hwnd = ::GetParent(m_hWnd); hwnd; hwnd = ::GetParent(hwnd)) {
    if (auto* frame = dynamic_cast<CFrameWnd*>(FromHandle(hwnd))) return frame;
  }
  return nullptr;
}
