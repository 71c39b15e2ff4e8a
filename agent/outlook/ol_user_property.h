#pragma once
// One user-defined property of an Outlook item.
#include "agent/framework/dispatch_driver.h"

class COlUserProperty : public COleDispatchDriver {
 public:
  COlUserProperty() = default;
  COlUserProperty(LPDISPATCH dispatch, BOOL autoRelease) : COleDispatchDriver(dispatch, autoRelease) {}

  // The value as the property holds it (no coercion); the caller owns its contents.
  VARIANT GetValue();
};
