#include "agent/framework/cmd_ui.h"

#include "agent/framework/cmd_target.h"

void CCmdUI::Enable(BOOL bOn) {
  m_bEnableChanged = TRUE;
  if (!m_pMenu || m_pSubMenu) return;
  ::EnableMenuItem(m_pMenu, m_nIndex, MF_BYPOSITION | (bOn ? MF_ENABLED : (MF_DISABLED | MF_GRAYED)));
}

void CCmdUI::SetCheck(int nCheck) {
  if (!m_pMenu || m_pSubMenu) return;
  ::CheckMenuItem(m_pMenu, m_nIndex, MF_BYPOSITION | (nCheck ? MF_CHECKED : MF_UNCHECKED));
}

void CCmdUI::SetRadio(BOOL bOn) { SetCheck(bOn ? 1 : 0); }

void CCmdUI::SetText(const char* text) {
  if (!m_pMenu || m_pSubMenu || !text) return;
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  info.dwTypeData = const_cast<char*>(text);
  ::SetMenuItemInfoA(m_pMenu, m_nIndex, TRUE, &info);
}

BOOL CCmdUI::DoUpdate(CCmdTarget* target, BOOL bDisableIfNoHndler) {
  if (!target || m_nID == 0) return TRUE;
  m_bEnableChanged = FALSE;
  if (target->OnCmdMsg(m_nID, CN_UPDATE_COMMAND_UI, this, nullptr)) return TRUE;
  // No update handler: the item follows the existence of a command handler.
  if (!m_bEnableChanged) {
    AFX_CMDHANDLERINFO info;
    const BOOL handled = target->OnCmdMsg(m_nID, CN_COMMAND, this, &info);
    if (handled || bDisableIfNoHndler) Enable(handled);
  }
  return FALSE;
}
