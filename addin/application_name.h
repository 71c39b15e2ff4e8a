#pragma once
// The agent's executable as named by the `path` value the agent stores in its settings.
#include <cstddef>

// Room for the application name handed to CreateProcessA: MAX_PATH, NUL included.
constexpr std::size_t kApplicationNameCapacity = 260;

// Copies the value's text, up to its first NUL and never beyond the `size` bytes actually read,
// into `name` (capacity bytes) with a terminating NUL. A text that does not fit cannot name the
// agent: the result is then false and `name` is left empty.
bool ApplicationNameFromPathValue(const char* value, std::size_t size, char* name,
                                  std::size_t capacity);
