#pragma once
// The current local date and time as an OLE Automation date, to the second.
//
// Test hook: when the environment variable CADELO_TEST_NOW holds a local time
// "YYYY-MM-DD HH:MM:SS", that is the current time (read at every call, so a test can move the
// clock without waiting). Any other value is ignored and the system clock is used.
#include <windows.h>
#include <oleauto.h>

DATE CurrentLocalOleDate();

constexpr char kTestNowVariable[] = "CADELO_TEST_NOW";
