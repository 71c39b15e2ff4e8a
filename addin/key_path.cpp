#include "addin/key_path.h"

#include <cstring>

bool JoinKeyPath(std::initializer_list<std::string_view> parts, char* out, std::size_t capacity) {
  if (capacity == 0) return false;
  std::size_t length = 0;
  for (std::string_view part : parts) {
    if (part.empty()) continue;
    const std::size_t separator = length == 0 ? 0 : 1;
    if (length + separator + part.size() >= capacity) {
      out[0] = '\0';
      return false;
    }
    if (separator) out[length++] = '\\';
    std::memcpy(out + length, part.data(), part.size());
    length += part.size();
  }
  out[length] = '\0';
  return true;
}

bool ClassKeyPath(std::string_view clsidText, char* out, std::size_t capacity) {
  return JoinKeyPath({"CLSID", clsidText}, out, capacity);
}

bool OfficeAddinKeyPath(std::string_view host, std::string_view progId, char* out,
                        std::size_t capacity) {
  return JoinKeyPath({"Software\\Microsoft\\Office", host, "Addins", progId}, out, capacity);
}
