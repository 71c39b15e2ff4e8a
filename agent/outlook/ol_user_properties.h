#pragma once
// The UserProperties collection of an Outlook item.
#include "agent/framework/dispatch_driver.h"

class COlUserProperties : public COleDispatchDriver {
 public:
  COlUserProperties() = default;
  COlUserProperties(LPDISPATCH dispatch, BOOL autoRelease) : COleDispatchDriver(dispatch, autoRelease) {}

  // The property called name, or null when the item has none; the caller owns the reference.
  // custom is passed to Outlook by value.
  LPDISPATCH Find(const char* name, const VARIANT& custom);
};
