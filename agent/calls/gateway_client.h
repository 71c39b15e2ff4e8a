#pragma once
#include <string>

// Posts one form body to the gateway named in the settings (host and port are read on every call)
// and interprets its answer. Blocks until the gateway answers or the connection fails. Returns 1
// when the gateway accepted the request (requestId = its identifier), else 0 with the reason in
// errorText. Both out-parameters are emptied on entry. Shows nothing to the user.
int PostToGateway(const std::string& path, const std::string& body, std::string& requestId,
                  std::string& errorText);
