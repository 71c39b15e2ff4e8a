#include "agent/framework/ole/ole_text.h"

#include <climits>
#include <cstring>

namespace fw {

std::string WideToAnsi(const wchar_t* text, size_t length) {
  if (!text || length == 0 || length > INT_MAX) return std::string();
  const int wideLength = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_ACP, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, wideLength, &out[0], size, nullptr, nullptr);
  return out;
}

std::string BstrToAnsi(BSTR text) { return text ? WideToAnsi(text, SysStringLen(text)) : std::string(); }

namespace {

WideText ToWide(unsigned codePage, const char* text, size_t length) {
  if (!text || length == 0 || length > INT_MAX) return WideText();
  const int size = MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), nullptr, 0);
  if (size <= 0) return WideText();
  WideText out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), &out[0], size);
  return out;
}

}  // namespace

WideText AnsiToWide(const char* text) { return ToWide(CP_ACP, text, text ? std::strlen(text) : 0); }

WideText Utf8ToWide(const std::string& text) { return ToWide(CP_UTF8, text.data(), text.size()); }

BSTR AnsiToBstr(const char* text) {
  const WideText wide = AnsiToWide(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

}  // namespace fw
