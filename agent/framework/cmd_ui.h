#pragma once
// CCmdUI: the state of one user-interface item (menu item, toolbar button, status-bar pane) that
// update handlers set. The base class updates a menu item; control bars derive their own.
#include <windows.h>

#include <string>

class CCmdTarget;
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
  virtual void SetRadio(BOOL bOn = TRUE);
  virtual void SetText(const char* text);
  // Lets the routing go on to the next target after an update handler returned.
  void ContinueRouting() { m_bContinueRouting = TRUE; }

  // Asks `target` (and everything it routes to) for the item's state: an update handler sets it;
  // without one the item is enabled when some target has a command handler and, with
  // bDisableIfNoHndler, disabled otherwise.
  BOOL DoUpdate(CCmdTarget* target, BOOL bDisableIfNoHndler);
};
