#include "agent/outlook/ol_user_properties.h"

namespace {
constexpr DISPID kDispidFind = 0x67;
}  // namespace

LPDISPATCH COlUserProperties::Find(const char* name, const VARIANT& custom) {
  static const BYTE kParams[] = VTS_BSTR VTS_VARIANT;
  LPDISPATCH result = nullptr;
  InvokeHelper(kDispidFind, DISPATCH_METHOD, VT_DISPATCH, &result, kParams, name, &custom);
  return result;
}
