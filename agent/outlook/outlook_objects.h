#pragma once
// Outlook's members that the agent reads late-bound through fw::Dispatch (common/outlook_members.h),
// and the event interface its sink answers.
#include <windows.h>
#include <oleauto.h>

#include "common/outlook_members.h"

// {0006304E-0000-0000-C000-000000000046}
inline constexpr IID IID_ApplicationEvents = {0x0006304E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
