#include "agent/outlook/ol_user_property.h"

VARIANT COlUserProperty::GetValue() {
  VARIANT result;
  VariantInit(&result);
  InvokeHelper(DISPID_VALUE, DISPATCH_PROPERTYGET, VT_VARIANT, &result, nullptr);
  return result;
}
