#pragma once
// Outlook's object-model guard as an untrusted program out of process meets it: a guarded member
// (Body, UserProperties.Find, ...) is refused (deny), or answered only after the user has dealt
// with Outlook's prompt (prompt: the call blocks that long while the simulator goes on serving
// other calls, as the prompt's modal loop does). The script's `guard` command sets it per member,
// for every object that has the member.
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

#include "tools/outlook-sim/script/members.h"
#include "tools/outlook-sim/script/script.h"

namespace sim {

void SetGuard(Member member, GuardSetting mode, int64_t promptMs);

// Before a member answers. False when the guard refused the call: *excep then holds Outlook's
// refusal (scode E_ABORT, "Operation aborted"), and the call fails with DISP_E_EXCEPTION. A
// prompt is waited out here (logged `Guard prompt <object> <member> ms=<n>`); a refusal is
// logged `Guard denied <object> <member>`.
bool PassGuard(const std::string& objectName, const MemberInfo& member, EXCEPINFO* excep);

}  // namespace sim
