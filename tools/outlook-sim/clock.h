#pragma once
// The current local time in the script's units.
#include <cstdint>

namespace sim {

// Whole seconds since 1899-12-30 00:00:00, local time (milliseconds dropped).
int64_t LocalNowSeconds();

}  // namespace sim
