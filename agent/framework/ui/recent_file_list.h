#pragma once
// CRecentFileList: the most-recently-used file list of the File menu, kept in the application's
// profile section "Recent File List" as values File1..FileN.
#include <windows.h>

#include <string>
#include <vector>

class CCmdUI;

class CRecentFileList {
 public:
  explicit CRecentFileList(int nSize);

  // The list's capacity; entries past the used ones are empty.
  int GetSize() const { return static_cast<int>(names_.size()); }
  const std::string& operator[](int index) const { return names_.at(static_cast<size_t>(index)); }
  // Moves `path` (as a full path) to the front; the last entry drops out when full.
  void Add(const char* path);
  void Remove(int index);
  // Replaces the menu item of pCmdUI (the first recent-file id) and any previous entries by one
  // item per file ("&1 name"); with an empty list the item stays, disabled.
  void UpdateMenu(CCmdUI* pCmdUI);
  // Reads the list from the profile HKCU\<profileKey> (nothing when that is empty).
  void ReadList(const std::string& profileKey);

 private:
  std::vector<std::string> names_;  // GetSize() entries, most recent first; empty ones at the end
  std::string original_;            // the menu item's text before the list replaced it
};
