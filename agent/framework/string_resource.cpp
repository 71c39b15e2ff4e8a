#include <string>

#include "agent/framework/win_app.h"

namespace fw {

std::string LoadStringResource(UINT id, const char* fallback) {
  // A string resource holds at most 4097 characters.
  char text[4100];
  const int length = ::LoadStringA(AfxGetResourceHandle(), id, text, sizeof text);
  if (length <= 0) return fallback ? fallback : "";
  return std::string(text, static_cast<size_t>(length));
}

}  // namespace fw
