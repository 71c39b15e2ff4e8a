#pragma once
// Which numbers may be called from this gateway (numbers): pure, so that it is tested natively.
#include <string>
#include <vector>

namespace talmery {

// Glob patterns over the number the agent sent (digits, and a leading '+' when given): '?' one
// character, '*' any run, "[0-9]" / "[135]" / "[!0]" one of a set. Patterns may hold only
// digits, '+', and those characters.
bool ParseNumberPatterns(const std::string& text, std::vector<std::string>& out, std::string& error);
bool GlobMatch(const std::string& pattern, const std::string& text);
// True when `patterns` is empty (every number) or one of them matches.
bool NumberAllowed(const std::vector<std::string>& patterns, const std::string& number);

}  // namespace talmery
