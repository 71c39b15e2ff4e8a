#pragma once
// Unicode text as the reminder path carries it: UTF-8 from Outlook's UTF-16 to the request, where
// it is sent in the ANSI code page when that holds every character, else as UTF-8.
#include <cstddef>
#include <string>

// UTF-16 text of the given length (embedded zeros kept) as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* text, size_t length);

// The code point that begins at `at` in UTF-8 text, moving `at` past it. A byte that begins no
// well-formed sequence (a stray continuation, an overlong or cut-off sequence, a surrogate) is
// U+FFFD and one byte long, so that every byte is passed exactly once.
char32_t NextCodePoint(const std::string& utf8, size_t& at);

// The code point's UTF-8 bytes at the end of `out`.
void AppendUtf8(std::string& out, char32_t c);

// Bytes the code point takes in UTF-8 (1 to 4).
size_t Utf8Bytes(char32_t codePoint);
