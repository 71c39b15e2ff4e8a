#pragma once
// The command line of cadelo: its own options (see CadeloCommandLineOptions) on top of the
// framework's record. Plain arguments with no option pending go to the framework (the first one
// names a document to open); flags never do, so the framework's own switches stay unused.
#include "agent/framework/afx.h"
#include "agent/shell/command_line_options.h"

class CCadeloCommandLineInfo : public CCommandLineInfo, public CadeloCommandLineOptions {
 public:
  void ParseParam(const char* pszParam, BOOL bFlag, BOOL bLast) override;
};
