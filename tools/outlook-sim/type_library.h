#pragma once
// The simulator's type library: describes ApplicationEvents so that COM can marshal a
// QueryInterface for the event interface across processes.
#include <string>

namespace sim {

// Builds the library into `path` and registers it. Returns an error text, empty on success.
std::string CreateAndRegisterTypeLibrary(const std::wstring& path);
// Removes the registration (and the Interface key of the event interface). Quiet when absent.
void UnregisterTypeLibrary();

}  // namespace sim
