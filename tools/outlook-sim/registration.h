#pragma once
// /regserver and /unregserver: the class, the ProgID "Outlook.Application" and the type library.
#include <string>
#include <vector>

namespace sim {

// serverArgs (UTF-8) are appended to the LocalServer32 command line. Error text, empty on success.
std::string RegisterServer(const std::vector<std::string>& serverArgs);
// Removes everything /regserver wrote, from HKCR and HKCU\Software\Classes; quiet when absent.
std::string UnregisterServer();

}  // namespace sim
