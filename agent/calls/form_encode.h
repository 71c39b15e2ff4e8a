#pragma once
#include <string>

// Form encoding (application/x-www-form-urlencoded) as the gateway expects it: letters and digits
// stay, a blank becomes "+", every other byte becomes "%" and two lowercase hex digits.
std::string FormUrlEncode(const std::string& text);
