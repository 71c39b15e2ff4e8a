#include "addin/application_name.h"

#include <cstring>

bool ApplicationNameFromPathValue(const char* value, std::size_t size, char* name,
                                  std::size_t capacity) {
  if (capacity == 0) return false;
  const void* nul = size == 0 ? nullptr : std::memchr(value, '\0', size);
  const std::size_t length =
      nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - value) : size;
  if (length >= capacity) {
    name[0] = '\0';
    return false;
  }
  if (length) std::memcpy(name, value, length);
  name[length] = '\0';
  return true;
}
