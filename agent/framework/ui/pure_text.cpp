#include "agent/framework/ui/pure_text.h"

#include <limits>

namespace fw {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::optional<int32_t> ParseDialogInteger(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t digits = i;
  int64_t magnitude = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  while (i < n && text[i] >= '0' && text[i] <= '9') {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kLimit) return std::nullopt;  // too large for any 32-bit value
    ++i;
  }
  if (i == digits) return std::nullopt;
  while (i < n && IsBlank(text[i])) ++i;
  if (i != n) return std::nullopt;
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max() || value < std::numeric_limits<int32_t>::min()) return std::nullopt;
  return static_cast<int32_t>(value);
}

std::string AbbreviateFileName(std::string_view path, size_t maxLength, bool atLeastName) {
  if (path.size() <= maxLength) return std::string(path);
  size_t nameStart = path.size();
  while (nameStart > 0 && !IsSeparator(path[nameStart - 1]) && path[nameStart - 1] != ':') --nameStart;
  const std::string name(path.substr(nameStart));
  if (maxLength < name.size()) return atLeastName ? name : std::string();

  // The kept head: the volume with its first directory ("C:\dir") or "\\server\share".
  size_t cur = 0;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    cur = 2;
    while (cur < path.size() && !IsSeparator(path[cur])) ++cur;
  } else if (path.size() >= 2 && path[1] == ':') {
    cur = 2;
  }
  if (cur >= path.size() || !IsSeparator(path[cur]) || nameStart == 0) return name;
  if (nameStart - 1 > cur) {
    size_t next = cur + 1;
    while (next < nameStart - 1 && !IsSeparator(path[next])) ++next;
    cur = next;
  }
  const size_t head = cur;
  if (maxLength < head + 5 + name.size()) return name;  // "<head>\...\<name>" does not fit

  // Drop directories after the head until the rest fits behind "\...".
  size_t rest = cur;
  while (head + 4 + (path.size() - rest) > maxLength && rest < nameStart - 1) {
    ++rest;
    while (rest < nameStart - 1 && !IsSeparator(path[rest])) ++rest;
  }
  std::string result(path.substr(0, head));
  result += "\\...";
  result += path.substr(rest);
  return result;
}

std::string RecentFileMenuText(int number, std::string_view displayName) {
  std::string text = "&" + std::to_string(number % 10) + " ";
  for (char c : displayName) {
    if (c == '&') text += '&';
    text += c;
  }
  return text;
}

}  // namespace fw
