#include "tests/harness/paths.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "common/win/handles.h"

namespace harness {

std::string WinePath(const std::string& unixPath) {
  // Only absolute paths lie on drive Z:; a relative one keeps its meaning with backslashes.
  std::string p = !unixPath.empty() && unixPath[0] == '/' ? "Z:" : "";
  for (char c : unixPath) p += c == '/' ? '\\' : c;
  return p;
}

std::string ThisExeDir() {
  char buffer[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::string path(buffer, n < sizeof buffer ? n : 0);
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

namespace {

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::FindClose(h); }
};
using FindHandle = win::UniqueHandle<FindHandleTraits>;

}  // namespace

bool RemoveTree(const std::string& path) {
  if (path.size() < 4) return false;  // never a drive root
  WIN32_FIND_DATAA fd;
  FindHandle find(FindFirstFileA((path + "\\*").c_str(), &fd));
  if (find) {
    do {
      std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      std::string full = path + "\\" + name;
      // Links to folders are removed as links, never followed.
      if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTree(full);
      } else {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
          SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveDirectoryA(full.c_str());
        else
          DeleteFileA(full.c_str());
      }
    } while (FindNextFileA(find.get(), &fd));
  }
  find.reset();
  RemoveDirectoryA(path.c_str());
  return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  char temp[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof temp, temp);
  if (n == 0 || n > MAX_PATH) return;
  std::string base(temp, n);
  if (!base.empty() && base.back() == '\\') base.pop_back();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = base + "\\brisomel-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(counter++) + "-" + std::to_string(GetTickCount());
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(path_);
}

}  // namespace harness
