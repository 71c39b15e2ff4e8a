#include "agent/outlook/outlook_version.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

bool ParseOutlookMajorVersion(const std::string& version, int* major) {
  const size_t dot = version.find('.');
  if (dot == std::string::npos) return false;
  // The same syntax as sscanf("%d"), but a number out of range saturates instead of being
  // undefined.
  const std::string head = version.substr(0, dot);
  const char* begin = head.c_str();
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(begin, &end, 10);
  if (end == begin) return false;
  if (value > INT_MAX || (errno == ERANGE && value > 0)) {
    *major = INT_MAX;
  } else if (value < INT_MIN || (errno == ERANGE && value < 0)) {
    *major = INT_MIN;
  } else {
    *major = static_cast<int>(value);
  }
  return true;
}
