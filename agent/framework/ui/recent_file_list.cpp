#include "agent/framework/ui/recent_file_list.h"

#include "agent/framework/ui/cmd_target.h"
#include "agent/framework/ui/pure_text.h"
#include "agent/framework/ui/win_app.h"
#include "common/win/handles.h"

namespace {

constexpr size_t kDisplayLength = 30;

// The profile's section and value names: "Recent File List", File1 ... FileN.
constexpr char kSection[] = "Recent File List";
std::string EntryName(size_t number) { return "File" + std::to_string(number); }

// A text value (REG_SZ or REG_EXPAND_SZ, unexpanded); empty when missing or of another type.
std::string ReadText(HKEY key, const char* name) {
  constexpr DWORD kText = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
  DWORD size = 0;
  if (::RegGetValueA(key, nullptr, name, kText, nullptr, nullptr, &size) != ERROR_SUCCESS) return {};
  std::string value(++size, '\0');  // with room for a terminating zero the value may lack
  if (::RegGetValueA(key, nullptr, name, kText, nullptr, value.data(), &size) != ERROR_SUCCESS) return {};
  value.resize(value.find('\0'));
  return value;
}

// The text the menu shows for a recent file (without the "&1 " prefix): a file in the current
// directory by its name alone, and at most kDisplayLength characters.
std::string DisplayName(const std::string& path) {
  char current[MAX_PATH * 2] = {};
  const DWORD length = ::GetCurrentDirectoryA(sizeof current, current);
  std::string directory(current, length);
  if (!directory.empty() && directory.back() != '\\') directory += '\\';
  std::string shown = path;
  if (!directory.empty() && path.size() > directory.size() &&
      CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, path.c_str(), static_cast<int>(directory.size()),
                     directory.c_str(), static_cast<int>(directory.size())) == CSTR_EQUAL &&
      path.find_first_of("\\/", directory.size()) == std::string::npos) {
    shown = path.substr(directory.size());
  }
  return fw::AbbreviateFileName(shown, kDisplayLength, true);
}

}  // namespace

CRecentFileList::CRecentFileList(int nSize) : names_(nSize > 0 ? static_cast<size_t>(nSize) : 1) {}

void CRecentFileList::Add(const char* path) {
  if (!path || !*path) return;
  const std::string full = fw::FullPath(path);
  // Move an existing entry to the front, else push the last one out.
  size_t slot = names_.size() - 1;
  for (size_t i = 0; i < names_.size(); ++i) {
    if (lstrcmpiA(names_[i].c_str(), full.c_str()) == 0) {
      slot = i;
      break;
    }
  }
  for (size_t i = slot; i > 0; --i) names_[i] = names_[i - 1];
  names_[0] = full;
}

void CRecentFileList::Remove(int index) {
  if (index < 0 || index >= GetSize()) return;
  names_.erase(names_.begin() + index);
  names_.emplace_back();
}

void CRecentFileList::ReadList(const std::string& profileKey) {
  // Opened for reading: reading creates no key.
  win::RegKey key;
  if (profileKey.empty()) return;
  if (key.Open(HKEY_CURRENT_USER, (profileKey + "\\" + kSection).c_str(), KEY_READ) != ERROR_SUCCESS) return;
  for (size_t i = 0; i < names_.size(); ++i) names_[i] = ReadText(key.get(), EntryName(i + 1).c_str());
}

void CRecentFileList::UpdateMenu(CCmdUI* pCmdUI) {
  HMENU menu = pCmdUI->m_pMenu;
  if (menu && original_.empty()) {
    char text[256] = {};
    ::GetMenuStringA(menu, pCmdUI->m_nID, text, sizeof text, MF_BYCOMMAND);
    original_ = text;
  }
  if (names_[0].empty()) {
    if (!original_.empty()) pCmdUI->SetText(original_.c_str());
    pCmdUI->Enable(FALSE);
    return;
  }
  if (!menu) return;
  for (size_t i = 0; i < names_.size(); ++i) ::DeleteMenu(menu, pCmdUI->m_nID + static_cast<UINT>(i), MF_BYCOMMAND);
  for (size_t i = 0; i < names_.size() && !names_[i].empty(); ++i) {
    const std::string text = fw::RecentFileMenuText(static_cast<int>(i + 1), DisplayName(names_[i]));
    ::InsertMenuA(menu, pCmdUI->m_nIndex++, MF_STRING | MF_BYPOSITION, pCmdUI->m_nID++, text.c_str());
  }
  // The caller goes on after the last inserted item.
  pCmdUI->m_nIndex--;
  pCmdUI->m_nIndexMax = static_cast<UINT>(::GetMenuItemCount(menu));
  pCmdUI->m_bEnableChanged = TRUE;
}
