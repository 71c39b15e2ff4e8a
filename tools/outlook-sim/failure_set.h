#pragma once
// The members a script made fail, shared by an item, its UserProperties collection and its user
// properties (Find and Value fail per item).
#include <map>

#include "tools/outlook-sim/script/members.h"
#include "tools/outlook-sim/script/script.h"

namespace sim {

class FailureSet {
 public:
  void Set(Member m, const Text& description) { failures_[m] = description; }
  void Clear(Member m) { failures_.erase(m); }
  const Text* Find(Member m) const {
    auto it = failures_.find(m);
    return it == failures_.end() ? nullptr : &it->second;
  }

 private:
  std::map<Member, Text> failures_;
};

}  // namespace sim
