#include "agent/outlook/local_clock.h"

#include <optional>
#include <string>

#include "agent/outlook/ole_date.h"

namespace {

std::optional<double> TestNow() {
  char text[64] = {};
  const DWORD length = GetEnvironmentVariableA(kTestNowVariable, text, sizeof text);
  if (length == 0 || length >= sizeof text) return std::nullopt;
  return ParseLocalTimestamp(std::string(text, length));
}

}  // namespace

DATE CurrentLocalOleDate() {
  if (const std::optional<double> now = TestNow()) return *now;
  SYSTEMTIME local{};
  GetLocalTime(&local);
  return OleDateFromFields(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond)
      .value_or(0.0);
}
