#pragma once
// The lists of a setting (client addresses, number patterns): items separated by commas, blanks
// or tabs, empty items dropped.
#include <string>
#include <vector>

namespace talmery {

inline std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::string item;
  for (char c : text + ",") {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  return items;
}

}  // namespace talmery
