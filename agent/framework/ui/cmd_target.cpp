#include "agent/framework/ui/cmd_target.h"

namespace fw {

const CommandEntry* CommandMap::Find(UINT id, bool update) const {
  for (const CommandMap* map = this; map; map = map->base_) {
    for (const CommandEntry& entry : map->entries_) {
      if (id < entry.first || id > entry.last) continue;
      if (update ? static_cast<bool>(entry.update) : static_cast<bool>(entry.command)) return &entry;
    }
  }
  return nullptr;
}

}  // namespace fw

const fw::CommandMap* CCmdTarget::GetCommandMap() const {
  static const fw::CommandMap map(nullptr, {});
  return &map;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void* pExtra) {
  const fw::CommandMap* map = GetCommandMap();
  if (nCode == CN_UPDATE_COMMAND_UI) {
    const fw::CommandEntry* entry = map->Find(nID, true);
    if (!entry || !pExtra) return FALSE;
    auto* ui = static_cast<CCmdUI*>(pExtra);
    ui->m_bContinueRouting = FALSE;
    entry->update(*this, *ui);
    return !ui->m_bContinueRouting;
  }
  if (nCode != CN_COMMAND && nCode != CN_FIND_HANDLER) return FALSE;
  const fw::CommandEntry* entry = map->Find(nID, false);
  if (!entry) return FALSE;
  if (nCode == CN_FIND_HANDLER) return TRUE;
  entry->command(*this, nID);
  return TRUE;
}

void CCmdUI::Enable(BOOL bOn) {
  m_bEnableChanged = TRUE;
  enabled = bOn;
  if (!m_pMenu) return;
  ::EnableMenuItem(m_pMenu, m_nIndex, MF_BYPOSITION | (bOn ? MF_ENABLED : (MF_DISABLED | MF_GRAYED)));
}

void CCmdUI::SetCheck(int nCheck) {
  if (!m_pMenu) return;
  ::CheckMenuItem(m_pMenu, m_nIndex, MF_BYPOSITION | (nCheck ? MF_CHECKED : MF_UNCHECKED));
}

void CCmdUI::SetText(const char* text) {
  if (!m_pMenu || !text) return;
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  info.dwTypeData = const_cast<char*>(text);
  ::SetMenuItemInfoA(m_pMenu, m_nIndex, TRUE, &info);
}

BOOL CCmdUI::DoUpdate(CCmdTarget* target, BOOL bDisableIfNoHndler) {
  if (!target || m_nID == 0) return TRUE;
  m_bEnableChanged = FALSE;
  if (target->OnCmdMsg(m_nID, CN_UPDATE_COMMAND_UI, this)) return TRUE;
  // No update handler: the item follows the existence of a command handler.
  if (!m_bEnableChanged) {
    const BOOL handled = target->OnCmdMsg(m_nID, CN_FIND_HANDLER, nullptr);
    if (handled || bDisableIfNoHndler) Enable(handled);
  }
  return FALSE;
}
