#pragma once
// A copy of cadelo.exe at a path of the test's choosing (blanks, characters of any script,
// beyond MAX_PATH), in a fresh folder under %TEMP% that is removed with everything in it.
#include <string>
#include <vector>

namespace systemtest {

class AgentCopy {
 public:
  // folders: the folders below the fresh root, outermost first; the executable is named stem
  // + ".exe", with the stem padded with 'x' when the full path must have pathLength characters.
  AgentCopy(const std::vector<std::wstring>& folders, const std::wstring& stem, size_t pathLength = 0);
  ~AgentCopy();
  AgentCopy(const AgentCopy&) = delete;
  AgentCopy& operator=(const AgentCopy&) = delete;

  bool Ok() const { return ok_; }
  const std::wstring& Path() const { return path_; }
  // The path as ANSI text, the way the program's own ANSI calls see it: characters outside the
  // ANSI code page become '?'.
  std::string AnsiPath() const;
  // The path from the fresh root's own folder on ("sys-12-1\\Brisomel\\cadelo.exe"): unique to
  // this copy, and the same in the host's path of the file.
  std::string UniqueTail() const;
  // True when every character of the path survives the ANSI code page.
  bool AnsiRoundTrips() const;

 private:
  std::wstring root_;
  std::vector<std::wstring> created_;  // folders, outermost first
  std::wstring path_;
  bool ok_ = false;
};

std::string ToAnsi(const std::wstring& text);

}  // namespace systemtest
