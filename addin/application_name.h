#pragma once
// The agent's executable as named by the `path` value the agent stores in its settings: as
// UTF-16 text (a string value) or, for a value of another type, as bytes in the ANSI code page.
#include <cstddef>

// Room for the application name handed to CreateProcess: MAX_PATH, NUL included.
constexpr std::size_t kApplicationNameCapacity = 260;

// Copies the value's text, up to its first NUL and never beyond the `count` characters actually
// read, into `name` (capacity characters) with a terminating NUL. A text that does not fit cannot
// name the agent: the result is then false and `name` is left empty. Char is char (ANSI bytes),
// char16_t or wchar_t (UTF-16).
template <typename Char>
bool ApplicationNameFromPathValue(const Char* value, std::size_t count, Char* name,
                                  std::size_t capacity);

// The folder of an application name, as the agent's current directory: the text before its last
// '\' or '/', with the separator kept after a drive ("C:\"). False, with `folder` empty, when the
// name has no folder part. `folder` has room for `capacity` characters, NUL included (a folder is
// never longer than the name it comes from).
template <typename Char>
bool FolderOfApplicationName(const Char* name, Char* folder, std::size_t capacity);
