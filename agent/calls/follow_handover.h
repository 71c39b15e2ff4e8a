#pragma once
// The calls an agent follows, kept where the next agent of the same user finds them, so that an
// outcome is told once: not lost with an agent that ended (closed with Outlook, ended by the
// add-in, killed), not told by two. The key HKCU\Software\Brisomel\Following holds one value
// per call (named by its gateway and id: the owner, its process id and start, and the call as
// FollowedCallText, REG_BINARY), from the moment it is followed until it ended without a word or
// its box was read. A starting agent takes the calls whose owner no longer runs: it deletes each
// value first, and only the agent whose delete succeeded follows the call.
#include <string>
#include <vector>

#include "agent/calls/call_follow.h"

// Notes the call as this agent's (again, with its new times).
void KeepFollowedCall(const FollowedCall& call);
// The call needs no more following: its value goes.
void ForgetFollowedCall(const FollowedCall& call);
// Takes every call whose owner has ended (a starting agent): each is this agent's alone.
std::vector<FollowedCall> TakeFollowedCalls();

// What the visible window lists: the calls of this logon session and what became of them, in the
// volatile key HKCU\Software\Brisomel\Recent (one value per call, as RecentCallText), noted by
// the hidden agent's follower; at most kMaxRecentCalls, the oldest dropped.
constexpr size_t kMaxRecentCalls = 20;
void NoteRecentCall(const FollowedCall& call, const std::string& outcome, long long nowMs);
std::vector<RecentCall> ReadRecentCalls();
