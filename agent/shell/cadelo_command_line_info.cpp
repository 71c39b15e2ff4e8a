#include "agent/shell/cadelo_command_line_info.h"

void CCadeloCommandLineInfo::ParseParam(const char* pszParam, BOOL bFlag, BOOL bLast) {
  if (TakeArgument(pszParam, bFlag != FALSE)) CCommandLineInfo::ParseParam(pszParam, FALSE, bLast);
}
