#pragma once
// A call request as the agent posts it: a URL-encoded form with calltime, selfdelete, firstocc,
// phoneno and txt, the text in the Windows ANSI code page of the agent (1252 unless the request
// names another). Decoding and every refusal live here,
// free of I/O, so that they are tested and fuzzed natively.
#include <cstddef>
#include <map>
#include <string>

namespace talmery {

constexpr size_t kMaxTextBytes = 64 * 1024;   // the decoded text, in code page bytes
constexpr size_t kMaxNumberDigits = 32;

struct CallRequest {
  std::string number;    // digits, with a leading '+' when one was given
  std::string text;      // UTF-8, decoded from the request's code page
  bool selfDelete = false;
  int firstOcc = 0;      // minutes before the appointment, as the agent sent it
  // Not posted: given by the gateway with the call's id, so that only the caller may read the
  // call back (GET /calls/<id>). 32 hex digits; empty for none.
  std::string callerToken;
};

// The text as the speech engine gets it: every control character (C0 but tab, newline and
// return; DEL; C1) and every byte that is not UTF-8 becomes a blank. espeak-ng takes some of
// them as commands (0x01 starts one: "\x01" "0A" sets the volume to nothing).
std::string SpeakableText(const std::string& utf8);

// Whether the text has anything to speak: a letter or a digit (any character beyond ASCII but
// blanks, punctuation, control characters and the replacement character counts as one).
bool HasSomethingToSay(const std::string& utf8);

// Splits a form body into decoded fields ('+' is a blank, %XX a byte). False with a reason for
// a malformed body: a '%' without two hex digits, a field without '=', a field given twice.
bool DecodeForm(const std::string& body, std::map<std::string, std::string>& fields, std::string& reason);

// The charset parameter of a Content-Type ("application/x-www-form-urlencoded; charset=windows-1250").
// False with a reason when the type is not a URL-encoded form; `codePage` is 0 when no charset
// is given, else the Windows code page named (windows-NNNN, cpNNNN, utf-8 as 65001, or
// iso-8859-1/us-ascii as 1252).
bool ParseFormContentType(const std::string& type, int& codePage, std::string& reason);
// Whether text in `codePage` can be decoded (iconv knows it).
bool CodePageKnown(int codePage);
// The bytes in Windows code page `codePage` as UTF-8; bytes the code page leaves undefined
// become U+FFFD. False when the code page is unknown.
bool CodePageToUtf8(const std::string& bytes, int codePage, std::string& utf8);

// The whole check of a posted body, its text in Windows code page `codePage` (one that
// CodePageKnown accepts). False with the reason that follows "ERROR: " in the answer.
bool ParseCallRequest(const std::string& body, CallRequest& request, std::string& reason, int codePage = 1252);

}  // namespace talmery
