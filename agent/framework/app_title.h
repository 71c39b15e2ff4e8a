#pragma once
#include <string>

namespace fw {

// The application title: the caption of the framework's message boxes. The application object
// sets it from its string resource; until then it is the executable's title string (57344) or,
// failing that, the executable's base name.
const std::string& AppTitle();
void SetAppTitle(const std::string& title);

}  // namespace fw
