#pragma once
// A fresh folder under /tmp, removed with its contents at the end of the test.
#include <cstdlib>
#include <string>

namespace gwtest {

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/talmery-test-XXXXXX";
    path_ = mkdtemp(name) ? name : "";
  }
  ~TempDir() {
    if (!path_.empty() && std::getenv("KEEP_TEST_DIRS") == nullptr)
      std::system(("rm -rf '" + path_ + "'").c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace gwtest
