#pragma once
// Removes, when it goes away, a key tree that did not exist when it was made: for parents that a
// test creates only as a side effect of writing the keys below them.
#include <windows.h>

#include <string>

#include "tests/harness/registry.h"

namespace addin_test {

class AbsentKeyGuard {
 public:
  AbsentKeyGuard(HKEY root, std::string key)
      : root_(root), key_(std::move(key)), existed_(harness::KeyExists(root_, key_)) {}
  ~AbsentKeyGuard() {
    if (!existed_) harness::DeleteTree(root_, key_);
  }
  AbsentKeyGuard(const AbsentKeyGuard&) = delete;
  AbsentKeyGuard& operator=(const AbsentKeyGuard&) = delete;

 private:
  HKEY root_;
  std::string key_;
  bool existed_;
};

}  // namespace addin_test
