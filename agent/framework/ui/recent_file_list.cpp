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
  DWORD type = 0;
  DWORD size = 0;
  if (::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return {};
  }
  std::string value(size + 1, '\0');
  if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS) {
    return {};
  }
  // The stored size may or may not count the terminating zero; value[size] is one in any case.
  value.resize(value.find('\0'));
  return value;
}

}  // namespace

CRecentFileList::CRecentFileList(int nSize)
    : size_(nSize > 0 ? static_cast<size_t>(nSize) : 1),
      names_(size_) {}

void CRecentFileList::Add(const char* path) {
  if (!path || !*path) return;
  const std::string full = fw::FullPath(path);
  // Move an existing entry to the front, else push the last one out.
  size_t slot = size_ - 1;
  for (size_t i = 0; i < size_; ++i) {
    if (lstrcmpiA(names_[i].c_str(), full.c_str()) == 0) {
      slot = i;
      break;
    }
  }
  for (size_t i = slot; i > 0; --i) names_[i] = names_[i - 1];
  names_[0] = full;
}

void CRecentFileList::Remove(int index) {
  if (index < 0 || static_cast<size_t>(index) >= size_) return;
  names_.erase(names_.begin() + index);
  names_.emplace_back();
}

void CRecentFileList::ReadList(const std::string& profileKey) {
  // Opened for reading: reading creates no key.
  win::RegKey key;
  if (profileKey.empty()) return;
  if (key.Open(HKEY_CURRENT_USER, (profileKey + "\\" + kSection).c_str(), KEY_READ) != ERROR_SUCCESS) return;
  for (size_t i = 0; i < size_; ++i) names_[i] = ReadText(key.get(), EntryName(i + 1).c_str());
}

std::string CRecentFileList::GetDisplayName(int index) const {
  const std::string& path = names_.at(static_cast<size_t>(index));
  if (path.empty()) return {};
  // A file in the current directory shows by its name alone.
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
  for (size_t i = 0; i < size_; ++i) ::DeleteMenu(menu, pCmdUI->m_nID + static_cast<UINT>(i), MF_BYCOMMAND);
  for (size_t i = 0; i < size_ && !names_[i].empty(); ++i) {
    const std::string text = fw::RecentFileMenuText(static_cast<int>(i + 1), GetDisplayName(static_cast<int>(i)));
    ::InsertMenuA(menu, pCmdUI->m_nIndex++, MF_STRING | MF_BYPOSITION, pCmdUI->m_nID++, text.c_str());
  }
  // The caller goes on after the last inserted item.
  pCmdUI->m_nIndex--;
  pCmdUI->m_nIndexMax = static_cast<UINT>(::GetMenuItemCount(menu));
  pCmdUI->m_bEnableChanged = TRUE;
}
