#include "agent/framework/shared.h"

#include <cstdio>
#include <exception>
#include <new>

namespace fw {
namespace {

constexpr UINT kAppTitleString = 0xE000;  // AFX_IDS_APP_TITLE of the resource ids

// The executable's title string, else its base name.
std::string DefaultTitle() {
  std::string title = LoadStringResource(kAppTitleString, "");
  if (!title.empty()) return title;
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, sizeof path);
  title = path;
  const size_t slash = title.find_last_of("\\/");
  if (slash != std::string::npos) title.erase(0, slash + 1);
  const size_t dot = title.rfind('.');
  if (dot != std::string::npos) title.erase(dot);
  return title;
}

std::string& Title() {
  static std::string title = DefaultTitle();
  return title;
}

}  // namespace

const std::string& AppTitle() { return Title(); }
void SetAppTitle(const std::string& title) { Title() = title; }

std::string LoadStringResource(UINT id, const char* fallback) {
  // A string resource holds at most 4097 characters.
  char text[4100];
  const int length = ::LoadStringA(::GetModuleHandleA(nullptr), id, text, sizeof text);
  if (length <= 0) return fallback ? fallback : "";
  return std::string(text, static_cast<size_t>(length));
}

std::string SystemMessage(DWORD code) {
  char* buffer = nullptr;
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length && buffer ? std::string(buffer, length) : std::string();
  if (buffer) ::LocalFree(buffer);
  return text;
}

void ReportUnhandledException(const char* where) noexcept {
  // No allocation here: the exception may be std::bad_alloc.
  char text[512] = {};
  const char* what = "not a std::exception";
  try {
    throw;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  // The system C runtime's formatter: the portable printf family that snprintf brings in is 25 KB
  // of the program. It writes no terminating NUL when the text fills the buffer: one is kept free.
  ::_snprintf(text, sizeof text - 1, "Brisomel: a C++ exception stopped in %s: %s\n", where, what);
  ::OutputDebugStringA(text);
}

HRESULT FailureOfComCall() noexcept {
  ReportUnhandledException("a COM method");
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace fw
