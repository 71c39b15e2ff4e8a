#pragma once
// CWnd: a C++ object bound to one window. Every window the framework creates (frames, views,
// dialogs, control bars) is a CWnd; its messages arrive at the virtual WindowProc, which calls
// the On... virtuals below and DefWindowProc for the rest.
#include <windows.h>

#include <string>

#include "agent/framework/ui/cmd_target.h"

class CFrameWnd;

class CWnd : public CCmdTarget {
 public:
  // Destroys the window if it still exists (without PostNcDestroy deleting the object again).
  ~CWnd() override;

  HWND m_hWnd = nullptr;

  // The framework object of `hwnd` when the framework created or attached it, else null.
  static CWnd* FromHandle(HWND hwnd);

  // Creates the window. className null: the framework's own window class (redraws on resize,
  // window-colour background, arrow cursor). PreCreateWindow sees and may change the parameters.
  BOOL Create(const char* className, const char* windowName, DWORD dwStyle, const RECT& rect, CWnd* parent,
              UINT nID, void* createParam = nullptr);
  virtual BOOL PreCreateWindow(CREATESTRUCTA& cs);
  // Creates the window from a filled CREATESTRUCT (after PreCreateWindow).
  BOOL CreateFromStruct(CREATESTRUCTA& cs);
  virtual BOOL DestroyWindow();
  // Called after the window's last message (WM_NCDESTROY); frames and views delete themselves.
  virtual void PostNcDestroy();

  // Binds an existing window to this object (its messages then reach WindowProc) until the
  // object goes.
  BOOL SubclassWindow(HWND hwnd);

  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // DefWindowProc with the message being handled now (for On... handlers).
  LRESULT Default();
  // WM_COMMAND. The default routes menu, accelerator and control commands through OnCmdMsg
  // (disabled commands are dropped); FALSE lets DefWindowProc have it.
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  // WM_NOTIFY; TRUE when handled (*result is the answer).
  virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
  // Called by the message loop for messages to this window or its children before dispatch.
  virtual BOOL PreTranslateMessage(MSG* msg);
  virtual int OnCreate(LPCREATESTRUCTA cs);
  virtual void OnSize(UINT type, int cx, int cy);
  virtual void OnPaint();
  virtual void OnClose();

  // Thin wrappers.
  BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
  BOOL UpdateWindow() { return ::UpdateWindow(m_hWnd); }
  BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
  BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
  LRESULT SendMessage(UINT msg, WPARAM w = 0, LPARAM l = 0) { return ::SendMessageA(m_hWnd, msg, w, l); }
  BOOL PostMessage(UINT msg, WPARAM w = 0, LPARAM l = 0) { return ::PostMessageA(m_hWnd, msg, w, l); }
  DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE)); }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  // The nearest enclosing frame window (for a view: its child frame).
  CFrameWnd* GetParentFrame() const;

 protected:
  // Binds/unbinds the HWND and this object in the framework's window map.
  void Attach(HWND hwnd);
  void Detach();

 private:
  friend LRESULT CALLBACK FwWindowProc(HWND, UINT, WPARAM, LPARAM);
  WNDPROC superProc_ = nullptr;  // previous window procedure of a subclassed window
  bool deleting_ = false;
};

namespace fw {
// Registers (once) a window class whose windows are framework windows, with an arrow cursor and
// the system colour `background`; returns its name.
const char* RegisterWindowClass(const char* name, UINT style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS,
                                int background = COLOR_WINDOW);
// The whole text of a window or control.
std::string WindowText(HWND window);
// What a window or dialog procedure answers for a message whose handler threw (after
// ReportUnhandledException): a failed command tells the user "Command failed."; a window whose
// WM_CREATE failed is not created (-1); every other message counts as handled (0).
LRESULT AnswerFailedMessage(UINT message);
}  // namespace fw
