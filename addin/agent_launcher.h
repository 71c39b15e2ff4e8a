#pragma once
// Starts the agent program in hidden mode, as named by the `path` value the agent stores in its
// settings when the user runs it.
#include <windows.h>

#include "agent/framework/handles.h"

// On success the new process's handle goes to *process (its thread handle is closed at once) and
// the result is S_OK. Otherwise the user has been told why in a message box and the result is
// E_FAIL, with *process untouched.
HRESULT LaunchAgent(fw::KernelHandle* process);
