#pragma once
// /regserver and /unregserver: the class, the ProgID "Outlook.Application" and the type library.
#include <string>
#include <vector>

namespace sim {

// serverArgs (UTF-8) are appended to the LocalServer32 command line. Error text, empty on success.
// A class, ProgID or event interface registered for another program (a real Outlook) is left
// alone and the registration refused, unless force.
std::string RegisterServer(const std::vector<std::string>& serverArgs, bool force);
// Removes what /regserver wrote, from HKCR and HKCU\Software\Classes, where it still names the
// simulator; quiet when absent. Another program's registration stays.
std::string UnregisterServer();

}  // namespace sim
