#pragma once
// Outlook's Application object, read late-bound.
#include <string>

#include "agent/framework/dispatch_driver.h"

class COlApplication : public COleDispatchDriver {
 public:
  COlApplication() = default;
  COlApplication(LPDISPATCH dispatch, BOOL autoRelease) : COleDispatchDriver(dispatch, autoRelease) {}

  std::string GetVersion();  // e.g. "16.0.0.1"
};
