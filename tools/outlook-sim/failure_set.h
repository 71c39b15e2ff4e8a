#pragma once
// The members a script made fail, shared by an item, its UserProperties collection and its user
// properties (Find and Value fail per item).
#include <map>

#include "tools/outlook-sim/script/members.h"
#include "tools/outlook-sim/script/script.h"

namespace sim {

class FailureSet {
 public:
  // putOnly: only a put of the member fails (`fail <object> <member> put`).
  void Set(Member m, const Text& description, bool putOnly = false) { failures_[m] = {description, putOnly}; }
  void Clear(Member m) { failures_.erase(m); }
  // The failure of a read or call of the member.
  const Text* Find(Member m) const {
    auto it = failures_.find(m);
    return it == failures_.end() || it->second.putOnly ? nullptr : &it->second.description;
  }
  // The failure of a put of the member.
  const Text* FindPut(Member m) const {
    auto it = failures_.find(m);
    return it == failures_.end() ? nullptr : &it->second.description;
  }

 private:
  struct Failure {
    Text description;
    bool putOnly = false;
  };
  std::map<Member, Failure> failures_;
};

}  // namespace sim
