#pragma once
// Paths for tests running under Wine.
#include <string>

namespace harness {

// Wine maps the Unix root to drive Z: "/tmp/a b" -> "Z:\\tmp\\a b"; "a/b" -> "a\\b".
std::string WinePath(const std::string& unixPath);
// Folder of the running .exe, without a trailing backslash.
std::string ThisExeDir();

// A fresh folder under %TEMP%, removed with its contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }  // no trailing backslash; "" on failure
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// Removes a folder with everything in it; true when it is gone.
bool RemoveTree(const std::string& path);

}  // namespace harness
