#pragma once
// Where the add-in lies: beside the program, in the folder of the program's path. For narrow and
// wide paths alike (the program's path may hold characters outside the ANSI code page).
#include <string>

// The folder part of `programPath` (up to and including its last '/' or, when it has none, its
// last '\'; a '/' wins over any '\' after it) followed by "mervane.dll". A path without either
// separator keeps all of it.
template <typename String>
String AddinPathBeside(const String& programPath);

// `path` as one argument of a command line: in double quotes, so that folders with blanks
// ("C:\Program Files\...") reach the program as one argument.
template <typename String>
String QuoteArgument(const String& path);
