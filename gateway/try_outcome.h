#pragma once
// What a try's end (TryEnd, as the line saw it) counts as and what it reads as: the dispatcher
// makes the store's record and the metrics' labels of a try from these, in one place.
#include <string>

#include "gateway/line.h"

namespace talmery {

// How a try's end counts: delivered, busy, not answered, a passing fault, or a refusal.
Result ResultOf(const TryEnd& end);

// What people read of a try's end ("486 Busy Here", "the message was played", ...).
std::string DescribeEnd(const TryEnd& end);

// Who answered, as an answered call's outcome begins: "answered by a person", "answered by a
// machine", "answered, not sure by whom", or "answered" when the call ended before the line
// could tell.
std::string AnsweredBy(const TryEnd& end);

// What the store and the JSON keep of who answered a try: "person", "machine", "not sure"; ""
// for a try nobody answered.
std::string AnswererWord(const TryEnd& end);

// The SIP status a try ended with, as the metrics count it: the PBX's final status (486, 503, a
// redirect's 3xx), 488 for an answer refused for its media, 200 for an answered call, 0 for none
// (the PBX silent, a TLS or local fault).
int SipStatusOf(const TryEnd& end);

}  // namespace talmery
