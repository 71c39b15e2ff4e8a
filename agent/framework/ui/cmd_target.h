#pragma once
// Command routing: CCmdTarget, the root of every object that takes part in it (application,
// frames, views, documents, templates) and, when automation is enabled, the COM identity of the
// object; its command maps; CCmdUI, the state of a menu item, button or pane being updated.
#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <initializer_list>
#include <vector>

class CCmdTarget;
class CCmdUI;

// Base of everything the framework hands around as an untyped object (e.g. the hint object of
// CDocument::UpdateAllViews).
class CObject {
 public:
  virtual ~CObject() = default;
};

// Codes of CCmdTarget::OnCmdMsg.
constexpr int CN_COMMAND = 0;             // run the command
constexpr int CN_UPDATE_COMMAND_UI = -1;  // pExtra is a CCmdUI*: set its enabled/checked state

// Filled by OnCmdMsg(CN_COMMAND) when passed: then the handler is only looked up, not called.
struct AFX_CMDHANDLERINFO {
  CCmdTarget* pTarget = nullptr;
};

namespace fw {

// One entry of a command map: a command id range bound to a command handler, an update handler,
// or both. The handlers receive the target object; the helpers below cast it to the class that
// declared the map.
struct CommandEntry {
  UINT first = 0;
  UINT last = 0;
  std::function<void(CCmdTarget& self, UINT id)> command;
  std::function<void(CCmdTarget& self, CCmdUI& ui)> update;
};

// A class's command map: its own entries, searched before its base class's map.
class CommandMap {
 public:
  CommandMap(const CommandMap* base, std::initializer_list<CommandEntry> entries)
      : base_(base), entries_(entries) {}
  // The first entry along the chain for `id` with a command handler (update == false) or with an
  // update handler (update == true); null when there is none.
  const CommandEntry* Find(UINT id, bool update) const;

 private:
  const CommandMap* base_;
  std::vector<CommandEntry> entries_;
};

// Command handler without arguments: OnCommand(ID_APP_ABOUT, &CMyApp::OnAppAbout).
template <class T>
CommandEntry OnCommand(UINT id, void (T::*handler)()) {
  return {id, id, [handler](CCmdTarget& self, UINT) { (static_cast<T&>(self).*handler)(); }, {}};
}
// Handler for a range of ids that receives the id (its BOOL result is ignored, as in a menu).
template <class T, class R>
CommandEntry OnCommandRange(UINT first, UINT last, R (T::*handler)(UINT)) {
  return {first, last, [handler](CCmdTarget& self, UINT id) { (static_cast<T&>(self).*handler)(id); },
          {}};
}
// Update handler: sets the enabled/checked state of the menu item, button or pane.
template <class T>
CommandEntry OnUpdateCommandUI(UINT id, void (T::*handler)(CCmdUI*)) {
  return {id, id, {}, [handler](CCmdTarget& self, CCmdUI& ui) { (static_cast<T&>(self).*handler)(&ui); }};
}
template <class T>
CommandEntry OnUpdateCommandUIRange(UINT first, UINT last, void (T::*handler)(CCmdUI*)) {
  return {first, last, {},
          [handler](CCmdTarget& self, CCmdUI& ui) { (static_cast<T&>(self).*handler)(&ui); }};
}

// The id of the command whose handler is running now (0 outside handlers).
UINT CurrentCommandId();

// The exception barrier of every callback from Windows or COM into our code (window and dialog
// procedures, the methods of the framework's COM objects): a C++ exception must never unwind
// through their frames, so each callback catches whatever its handler throws. Called inside that
// catch block, this writes where it stopped and what it said to the debugger output.
void ReportUnhandledException(const char* where) noexcept;
// The same for a COM method, which then fails with E_OUTOFMEMORY (std::bad_alloc) or E_UNEXPECTED.
HRESULT FailureOfComCall() noexcept;

}  // namespace fw

class CCmdTarget : public CObject {
 public:
  CCmdTarget();
  ~CCmdTarget() override;
  CCmdTarget(const CCmdTarget&) = delete;
  CCmdTarget& operator=(const CCmdTarget&) = delete;

  // Routes one command (CN_COMMAND) or one command-UI update (CN_UPDATE_COMMAND_UI, pExtra the
  // CCmdUI*) through this object's command map. Classes that route further (views to their
  // document, frames to their view and the application) override it and call the base. TRUE when
  // a handler took it.
  virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo);

  // --- Automation: the object's COM identity -------------------------------------------------
  // One reference count per object, starting at 1 (the framework's own reference). When it drops
  // to 0, OnFinalRelease runs (default: delete this).
  void EnableAutomation();
  BOOL IsAutomationEnabled() const { return automation_; }
  // The object's IDispatch (also its IUnknown); null unless automation is enabled.
  IDispatch* GetIDispatch(BOOL bAddRef);
  ULONG InternalAddRef();
  ULONG InternalRelease();
  ULONG ExternalAddRef() { return InternalAddRef(); }
  ULONG ExternalRelease() { return InternalRelease(); }
  HRESULT ExternalQueryInterface(REFIID iid, void** ppv);
  virtual void OnFinalRelease();

  // Interface map: IUnknown and IDispatch are answered by the framework; an override returns the
  // (not yet AddRef'd) pointer for further interface ids, e.g. GetIDispatch(FALSE) for a dual or
  // dispinterface id. Default: none.
  virtual void* GetInterfaceHook(REFIID iid);
  // The dispatch map behind the IDispatch. The defaults describe an empty map: no names
  // (DISP_E_UNKNOWNNAME), no members (DISP_E_MEMBERNOTFOUND), no type information.
  virtual HRESULT DispGetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
  virtual HRESULT DispInvoke(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* excepInfo, UINT* argErr);

 protected:
  // The class's command map; overrides chain to their base class's map. Example:
  //   const fw::CommandMap* CMyApp::GetCommandMap() const {
  //     static const fw::CommandMap map(CWinApp::GetCommandMap(), {
  //         fw::OnCommand(ID_APP_ABOUT, &CMyApp::OnAppAbout),
  //         fw::OnCommand(ID_FILE_NEW, &CWinApp::OnFileNew)});
  //     return &map;
  //   }
  virtual const fw::CommandMap* GetCommandMap() const;

 private:
  class Dispatch;
  friend class Dispatch;
  LONG refs_ = 1;
  BOOL automation_ = FALSE;
  Dispatch* dispatch_ = nullptr;
};

// CCmdUI: the state of one user-interface item (menu item, toolbar button, status-bar pane) that
// update handlers set. The base class updates a menu item; control bars derive their own.

class CWnd;

class CCmdUI {
 public:
  virtual ~CCmdUI() = default;

  UINT m_nID = 0;
  UINT m_nIndex = 0;             // position of the item in its menu or bar
  UINT m_nIndexMax = 0;          // number of items in that menu or bar
  HMENU m_pMenu = nullptr;       // the menu being updated (menu items only)
  HMENU m_pSubMenu = nullptr;    // when the item opens a popup
  CWnd* m_pOther = nullptr;      // the control bar being updated (bars only)
  BOOL m_bEnableChanged = FALSE; // an update handler called Enable
  BOOL m_bContinueRouting = FALSE;

  virtual void Enable(BOOL bOn = TRUE);
  virtual void SetCheck(int nCheck = 1);  // 0 unchecked, 1 checked, 2 indeterminate
  virtual void SetText(const char* text);
  // Lets the routing go on to the next target after an update handler returned.
  void ContinueRouting() { m_bContinueRouting = TRUE; }

  // Asks `target` (and everything it routes to) for the item's state: an update handler sets it;
  // without one the item is enabled when some target has a command handler and, with
  // bDisableIfNoHndler, disabled otherwise.
  BOOL DoUpdate(CCmdTarget* target, BOOL bDisableIfNoHndler);
};
