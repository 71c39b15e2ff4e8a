#pragma once
// CFrameWnd: a frame window with menu, accelerators, control bars, an active view and the
// framework's frame-level commands (toolbar and status bar toggles, key indicators, status-bar
// prompts). CMDIFrameWnd and CMDIChildWnd build on it.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "agent/framework/ui/afx_ids.h"
#include "agent/framework/ui/wnd.h"
#include "common/wide_text.h"

class CControlBar;
class CDocTemplate;
class CDocument;
class CView;

// What a new frame needs to create its view: LoadFrame passes it to OnCreateClient.
struct CCreateContext {
  std::function<CView*()> m_pNewViewClass;  // creates the view object (null: no view)
  CDocument* m_pCurrentDoc = nullptr;
  CDocTemplate* m_pNewDocTemplate = nullptr;
};

class CFrameWnd : public CWnd {
 public:
  // Creates the frame from resource nIDResource: its menu, accelerator table, icon and the first
  // "\n"-separated field of its string as title. FALSE when the window (or OnCreate) fails.
  BOOL LoadFrame(UINT nIDResource, DWORD dwDefaultStyle = WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE);

  // Active view of this frame (the child frame's view; null in an MDI main frame).
  CView* GetActiveView() const { return activeView_; }
  // The document of the active view (MDI main frame: of the active child).
  virtual CDocument* GetActiveDocument();

  // Places control bars and the client area (view or MDI client).
  virtual void RecalcLayout();
  // Sets the caption: the MDI frames add, with FWS_ADDTOTITLE, the active document's title; a
  // plain frame keeps its title.
  virtual void OnUpdateFrameTitle(BOOL) {}
  // The frame's document window counter: n in "Cadel1:n" (0: none shown).
  int m_nWindow = 0;

  // Status bar message pane.
  void SetMessageText(const char* text);  // only when it differs from the pane's text
  void SetMessageText(UINT nID);  // the prompt of string nID (text before '\n'); 0: empty
  void SetIdleMessage();          // "Ready" (string 57345)

  // Control bars (children of the frame that register themselves on creation).
  CControlBar* GetControlBar(UINT nID) const;
  // A bar docks at the side its style aligns it to when it is created: this lays the frame out.
  void DockControlBar(CControlBar*) { RecalcLayout(); }
  void AddControlBar(CControlBar* bar);
  void RemoveControlBar(CControlBar* bar);

  // Idle work: command UI of the control bars, caption.
  virtual void OnIdleUpdateCmdUI();

  // Frame-level built-ins (in this class's command map).
  void OnUpdateControlBarMenu(CCmdUI* ui);
  BOOL OnBarCheck(UINT nID);
  void OnUpdateKeyIndicator(CCmdUI* ui);

  BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra) override;
  BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  // Creates the client (OnCreateClient) and lays it out; -1 when that fails.
  int OnCreate(LPCREATESTRUCTA cs) override;
  void OnClose() override;
  void OnSize(UINT type, int cx, int cy) override;
  void PostNcDestroy() override;  // deletes the frame object

  HACCEL m_hAccelTable = nullptr;  // not owned (resource)
  HMENU m_hMenuDefault = nullptr;  // the menu loaded by LoadFrame (owned)
  std::string m_strTitle;

 protected:
  // Creates the window of cs (style, parent, menu) titled and with the icons of resource
  // nIDResource, at the default place and size; FALSE when it fails.
  BOOL CreateFrame(UINT nIDResource, CREATESTRUCTA& cs, CCreateContext* pContext);
  // Creates the client: the view from pContext (frames) or the MDI client (MDI frame).
  virtual BOOL OnCreateClient(LPCREATESTRUCTA cs, CCreateContext* pContext);
  const fw::CommandMap* GetCommandMap() const override;
  // The layout area left for the client after the control bars took theirs.
  RECT LayoutControlBars();
  CView* activeView_ = nullptr;

 private:
  std::vector<CControlBar*> controlBars_;
  UINT lastFlybyId_ = 0;
  bool inMenu_ = false;
  std::string tooltipText_;
  WideText tooltipTextW_;
  friend class CView;
};
