#include "tests/system/agent_copy.h"

#include <windows.h>

#include "tests/system/system_paths.h"

namespace systemtest {
namespace {

// Paths beyond MAX_PATH need the long-path prefix with the wide calls.
std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

std::wstring FreshRoot() {
  static unsigned counter = 0;
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  std::wstring root(temp, n);
  if (!root.empty() && root.back() == L'\\') root.pop_back();
  return root + L"\\sys-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

std::string ToAnsi(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

AgentCopy::AgentCopy(const std::vector<std::wstring>& folders, const std::wstring& stem, size_t pathLength) {
  root_ = FreshRoot();
  if (!CreateDirectoryW(Long(root_).c_str(), nullptr)) return;
  created_.push_back(root_);
  std::wstring folder = root_;
  for (const std::wstring& name : folders) {
    folder += L"\\" + name;
    if (!CreateDirectoryW(Long(folder).c_str(), nullptr)) return;
    created_.push_back(folder);
  }
  path_ = folder + L"\\" + stem + L".exe";
  if (pathLength > path_.size()) path_ = folder + L"\\" + stem + std::wstring(pathLength - path_.size(), L'x') + L".exe";
  ok_ = CopyFileW(Widen(CadeloExe()).c_str(), Long(path_).c_str(), FALSE) != 0;
}

AgentCopy::~AgentCopy() {
  if (!path_.empty()) {
    // The add-in's agent may still be on its way out.
    for (int i = 0; i < 50 && !DeleteFileW(Long(path_).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND; ++i) Sleep(100);
  }
  for (auto it = created_.rbegin(); it != created_.rend(); ++it) RemoveDirectoryW(Long(*it).c_str());
}

std::string AgentCopy::AnsiPath() const { return ToAnsi(path_); }

std::string AgentCopy::UniqueTail() const {
  const size_t rootFolder = root_.rfind(L'\\') + 1;
  return ToAnsi(path_.substr(rootFolder));
}

bool AgentCopy::AnsiRoundTrips() const {
  const std::string ansi = AnsiPath();
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring back(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &back[0], n);
  return back == path_;
}

}  // namespace systemtest
