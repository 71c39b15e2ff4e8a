#pragma once
// The framework's pure text work (no windows.h): an integer typed into a dialog field, and how the
// File menu shows a recent file.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fw {

// An optionally signed ('+' or '-') decimal integer with blanks or tabs before and after it, and
// nothing else. Empty text, other characters, blanks inside the number and values outside the
// signed 32-bit range give nullopt.
std::optional<int32_t> ParseDialogInteger(std::string_view text);

// Shortens a path to at most maxLength characters by replacing the directories between the
// volume's first directory and the last ones with "\...":
// "C:\dir\a\b\c\file.txt" -> "C:\dir\...\c\file.txt". When "<head>\...\<file>" does not fit
// either, the file name alone; when even that is too long, the name (atLeastName) or "".
std::string AbbreviateFileName(std::string_view path, size_t maxLength, bool atLeastName);

// The menu item text of recent file number `number` (1-based): "&<n> name" with every '&' of
// the name doubled, so that none of it is taken as a mnemonic. n is number % 10.
std::string RecentFileMenuText(int number, std::string_view displayName);

}  // namespace fw
