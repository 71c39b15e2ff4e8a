#include "agent/framework/internet_exception.h"

#include <wininet.h>

#include <vector>

namespace fw {
namespace {

constexpr size_t kMaxDescription = 1023;

std::string FormatFrom(DWORD source, HMODULE module, DWORD errorCode) {
  char text[kMaxDescription + 1] = {};
  const DWORD length = FormatMessageA(source | FORMAT_MESSAGE_IGNORE_INSERTS, module, errorCode, 0,
                                      text, sizeof text, nullptr);
  return std::string(text, length < sizeof text ? length : 0);
}

// The server's own words for ERROR_INTERNET_EXTENDED_ERROR (an FTP or gopher style reply).
std::string LastResponseInfo() {
  DWORD code = 0;
  DWORD length = 0;
  InternetGetLastResponseInfoA(&code, nullptr, &length);
  if (length == 0) return {};
  std::vector<char> text(length + 1);
  if (!InternetGetLastResponseInfoA(&code, text.data(), &length)) return {};
  return std::string(text.data(), length);
}

}  // namespace

std::string DescribeInternetError(DWORD errorCode) {
  std::string text =
      FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, GetModuleHandleA("wininet.dll"), errorCode);
  if (text.empty()) text = FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, errorCode);
  if (errorCode == ERROR_INTERNET_EXTENDED_ERROR) text += LastResponseInfo();
  // Wine's wininet.dll has no words for this one, which the framework raises itself.
  if (text.empty() && errorCode == ERROR_HTTP_INVALID_SERVER_RESPONSE) {
    text = "The server returned an invalid or unrecognized response.\r\n";
  }
  if (text.empty())
    text = "Internet error " + std::to_string(errorCode) + " (no description available).";
  if (text.size() > kMaxDescription) text.resize(kMaxDescription);
  return text;
}

InternetException::InternetException(DWORD errorCode)
    : m_dwError(errorCode), m_strMessage(DescribeInternetError(errorCode)) {}

void ThrowLastInternetError() { throw InternetException(GetLastError()); }

}  // namespace fw
