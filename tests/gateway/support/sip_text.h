#pragma once
// A SIP message read as the test peers need it (RFC 3261, section 7.3): header fields by name,
// without regard to case, and the parameters of a field's value. Compact header names are not
// taken; the gateway's stack writes the long ones.
#include <string>
#include <vector>

namespace gwtest {

// The values of every header field called `name`, in the message's order, blanks around them
// taken off. Only the head (up to the blank line) is read.
std::vector<std::string> SipHeaders(const std::string& message, const std::string& name);
// The first of them, or nothing.
std::string SipHeader(const std::string& message, const std::string& name);
// A parameter of a field's value, `name=token` or `name="quoted"` (a digest's username, uri and
// response; a contact's expires), or nothing.
std::string SipParam(const std::string& value, const std::string& name);
// The user part of the request line's URI: "5550503" for "INVITE sip:5550503@pbx SIP/2.0".
std::string SipRequestUser(const std::string& message);

}  // namespace gwtest
