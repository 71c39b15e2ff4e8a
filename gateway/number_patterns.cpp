#include "gateway/number_patterns.h"

#include "gateway/setting_list.h"

namespace talmery {

bool ParseNumberPatterns(const std::string& text, std::vector<std::string>& out, std::string& error) {
  out.clear();
  for (const std::string& item : SplitList(text)) {
    bool inSet = false;
    for (size_t i = 0; i < item.size(); ++i) {
      const char c = item[i];
      const bool ok = (c >= '0' && c <= '9') || c == '+' || c == '?' || c == '*' || c == '[' ||
                      (inSet && (c == ']' || c == '-' || (c == '!' && item[i - 1] == '[')));
      if (!ok) {
        error = "\"" + item + "\" is not a number pattern (digits, + ? * and [0-9] only)";
        return false;
      }
      if (c == '[') {
        if (inSet) {
          error = "\"" + item + "\": a [ inside [ ]";
          return false;
        }
        inSet = true;
      } else if (c == ']') {
        inSet = false;
      }
    }
    if (inSet) {
      error = "\"" + item + "\": a [ without ]";
      return false;
    }
    out.push_back(item);
  }
  return true;
}

namespace {

// Matches the set at pattern[p] (just past '[') against c; `end` gets the index past ']'.
bool SetMatches(const std::string& pattern, size_t p, char c, size_t& end) {
  bool negate = false;
  if (p < pattern.size() && pattern[p] == '!') {
    negate = true;
    ++p;
  }
  bool found = false;
  while (p < pattern.size() && pattern[p] != ']') {
    if (p + 2 < pattern.size() && pattern[p + 1] == '-' && pattern[p + 2] != ']') {
      if (c >= pattern[p] && c <= pattern[p + 2]) found = true;
      p += 3;
    } else {
      if (c == pattern[p]) found = true;
      ++p;
    }
  }
  end = p + 1;
  return found != negate;
}

}  // namespace

bool GlobMatch(const std::string& pattern, const std::string& text) {
  // Iterative with one back-track point for the last '*': linear in practice, never exponential.
  size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starT = t;
      continue;
    }
    if (p < pattern.size()) {
      size_t next = p + 1;
      bool ok;
      if (pattern[p] == '?') ok = true;
      else if (pattern[p] == '[') ok = SetMatches(pattern, p + 1, text[t], next);
      else ok = pattern[p] == text[t];
      if (ok) {
        p = next;
        ++t;
        continue;
      }
    }
    if (starP == std::string::npos) return false;
    p = starP;
    t = ++starT;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool NumberAllowed(const std::vector<std::string>& patterns, const std::string& number) {
  if (patterns.empty()) return true;
  for (const std::string& p : patterns)
    if (GlobMatch(p, number)) return true;
  return false;
}

}  // namespace talmery
