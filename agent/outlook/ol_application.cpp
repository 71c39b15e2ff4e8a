#include "agent/outlook/ol_application.h"

namespace {
constexpr DISPID kDispidVersion = 0x116;
}  // namespace

std::string COlApplication::GetVersion() {
  std::string result;
  InvokeHelper(kDispidVersion, DISPATCH_PROPERTYGET, VT_BSTR, &result, nullptr);
  return result;
}
