#include "agent/framework/cmd_target.h"

#include <utility>

#include "agent/framework/cmd_ui.h"

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

namespace {
UINT g_currentCommand = 0;
}  // namespace

UINT CurrentCommandId() { return g_currentCommand; }

}  // namespace fw

CCmdTarget::CCmdTarget() = default;

const fw::CommandMap* CCmdTarget::GetCommandMap() const {
  static const fw::CommandMap map(nullptr, {});
  return &map;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) {
  const fw::CommandMap* map = GetCommandMap();
  if (nCode == CN_UPDATE_COMMAND_UI) {
    const fw::CommandEntry* entry = map->Find(nID, true);
    if (!entry || !pExtra) return FALSE;
    auto* ui = static_cast<CCmdUI*>(pExtra);
    ui->m_bContinueRouting = FALSE;
    entry->update(*this, *ui);
    return !ui->m_bContinueRouting;
  }
  if (nCode != CN_COMMAND) return FALSE;
  const fw::CommandEntry* entry = map->Find(nID, false);
  if (!entry) return FALSE;
  if (pHandlerInfo) {
    pHandlerInfo->pTarget = this;
    return TRUE;
  }
  const UINT saved = std::exchange(fw::g_currentCommand, nID);
  entry->command(*this, nID);
  fw::g_currentCommand = saved;
  return TRUE;
}
