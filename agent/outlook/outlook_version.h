#pragma once
// The major number of Outlook's version text ("16.0.0.1" -> 16).
#include <string>

// The text before the first "." read as a decimal integer: leading white space and a sign are
// allowed, the digits end at the first other character ("9x.1" -> 9). False when the text has
// no "." or no number before it. A number too large for int gives INT_MAX (INT_MIN if negative).
bool ParseOutlookMajorVersion(const std::string& version, int* major);

// Outlook 2000 (9) or later: the versions that raise the Reminder event.
constexpr int kFirstSupportedOutlookMajor = 9;
