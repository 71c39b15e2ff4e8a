#pragma once
// Parsing of an integer typed into a dialog field (pure, no windows.h).
#include <cstdint>
#include <optional>
#include <string_view>

namespace fw {

// An optionally signed ('+' or '-') decimal integer with blanks or tabs before and after it, and
// nothing else. Empty text, other characters, blanks inside the number and values outside the
// signed 32-bit range give nullopt.
std::optional<int32_t> ParseDialogInteger(std::string_view text);

}  // namespace fw
