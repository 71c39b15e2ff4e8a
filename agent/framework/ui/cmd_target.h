#pragma once
// Command routing: CCmdTarget, the root of every object that takes part in it (application,
// frames, views, documents, templates), with the COM identity of the OLE half; its command maps;
// CCmdUI, the state of a menu item, button or pane being updated.
#include <windows.h>

#include <functional>
#include <initializer_list>
#include <vector>

#include "agent/framework/ole/automation_object.h"
#include "agent/framework/shared.h"

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
constexpr int CN_FIND_HANDLER = -2;       // only whether a command handler exists: nothing runs

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
CommandEntry OnUpdateCommandUIRange(UINT first, UINT last, void (T::*handler)(CCmdUI*)) {
  return {first, last, {},
          [handler](CCmdTarget& self, CCmdUI& ui) { (static_cast<T&>(self).*handler)(&ui); }};
}
template <class T>
CommandEntry OnUpdateCommandUI(UINT id, void (T::*handler)(CCmdUI*)) {
  return OnUpdateCommandUIRange(id, id, handler);
}
}  // namespace fw

class CCmdTarget : public fw::AutomationObject {
 public:
  // Routes one command (CN_COMMAND) or one command-UI update (CN_UPDATE_COMMAND_UI, pExtra the
  // CCmdUI*) through this object's command map. Classes that route further (views to their
  // document, frames to their view and the application) override it and call the base. TRUE when
  // a handler took it (CN_FIND_HANDLER: when there is one).
  virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra);

 protected:
  // The class's command map; overrides chain to their base class's map (see the README).
  virtual const fw::CommandMap* GetCommandMap() const;
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
  CWnd* m_pOther = nullptr;      // the control bar being updated (bars only)
  BOOL m_bEnableChanged = FALSE; // an update handler called Enable
  BOOL enabled = TRUE;        // what it asked for (the base class's Enable)
  BOOL m_bContinueRouting = FALSE;

  virtual void Enable(BOOL bOn = TRUE);
  void SetCheck(int nCheck = 1);  // menu items only: 0 unchecked, 1 checked
  void SetText(const char* text);  // menu items only (the recent-file list)
  // Lets the routing go on to the next target after an update handler returned.
  void ContinueRouting() { m_bContinueRouting = TRUE; }

  // Asks `target` (and everything it routes to) for the item's state: an update handler sets it;
  // without one the item is enabled when some target has a command handler and, with
  // bDisableIfNoHndler, disabled otherwise.
  BOOL DoUpdate(CCmdTarget* target, BOOL bDisableIfNoHndler);
};
