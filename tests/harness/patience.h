#pragma once
// How long a test waits for what must happen (a message box, a request, a process's end).
// Generous: Wine on a loaded 2-core machine stalls for seconds (a desktop process starting, a busy
// wineserver). A wait that is met returns at once, so only a failing test pays for the length.
// Waits that check that something does NOT happen keep their own short spans.

namespace harness {

constexpr int kPatientMs = 60000;

}  // namespace harness
