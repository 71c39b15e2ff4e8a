#pragma once
// The call states as SQL text, for the stores' queries: made from the constants of store.h, so
// that each state is spelt in one place whichever back end writes it.
#include <string>

#include "gateway/store.h"

namespace talmery::state {

// A state (its words hold no quote) as an SQL string literal: 'queued'.
inline std::string Sql(const char* word) { return std::string("'") + word + "'"; }

// The states of a call whose try goes on (its INVITE may be on the wire, or the callee has it),
// as an SQL list: ('dialling', 'answered').
inline std::string InProgressSql() { return "(" + Sql(kDialling) + ", " + Sql(kAnswered) + ")"; }

}  // namespace talmery::state
