#include "addin/application_name.h"

#include <algorithm>

template <typename Char>
bool ApplicationNameFromPathValue(const Char* value, std::size_t count, Char* name,
                                  std::size_t capacity) {
  if (capacity == 0) return false;
  const Char* end = value + count;
  const std::size_t length = static_cast<std::size_t>(std::find(value, end, Char{0}) - value);
  if (length >= capacity) {
    name[0] = Char{0};
    return false;
  }
  std::copy(value, value + length, name);
  name[length] = Char{0};
  return true;
}

template <typename Char>
bool FolderOfApplicationName(const Char* name, Char* folder, std::size_t capacity) {
  if (capacity == 0) return false;
  folder[0] = Char{0};
  std::size_t length = 0;
  while (name[length] != Char{0}) ++length;
  std::size_t cut = length;
  while (cut > 0 && name[cut - 1] != Char('\\') && name[cut - 1] != Char('/')) --cut;
  if (cut == 0) return false;
  std::size_t folderLength = cut - 1;  // without the separator
  // "C:\x.exe": the folder is the drive's root, "C:\", not "C:" (the drive's current folder).
  if (folderLength == 0 || name[folderLength - 1] == Char(':')) ++folderLength;
  if (folderLength >= capacity) return false;
  std::copy(name, name + folderLength, folder);
  folder[folderLength] = Char{0};
  return true;
}

template bool ApplicationNameFromPathValue<char>(const char*, std::size_t, char*, std::size_t);
template bool ApplicationNameFromPathValue<char16_t>(const char16_t*, std::size_t, char16_t*,
                                                     std::size_t);
template bool ApplicationNameFromPathValue<wchar_t>(const wchar_t*, std::size_t, wchar_t*,
                                                    std::size_t);
template bool FolderOfApplicationName<char16_t>(const char16_t*, char16_t*, std::size_t);
template bool FolderOfApplicationName<wchar_t>(const wchar_t*, wchar_t*, std::size_t);
