#pragma once
// What both halves of the framework need: the application title, the executable's strings and
// the exception barrier of every callback from Windows or COM into our code.
#include <windows.h>

#include <string>

namespace fw {

// The application title: the caption of the framework's message boxes and the source of the
// Automation exceptions it raises. The application object sets it from its string resource;
// until then it is the executable's title string (57344) or, failing that, the executable's
// base name.
const std::string& AppTitle();
void SetAppTitle(const std::string& title);

// Text of string resource `id` of the executable; `fallback` when it has none.
std::string LoadStringResource(UINT id, const char* fallback = "");
// The system's text for an error or status code as FormatMessage gives it (line break included),
// e.g. "The system cannot find the file specified.\r\n"; empty when it has none.
std::string SystemMessage(DWORD code);

// A C++ exception must never unwind through the frames of Windows or COM (window and dialog
// procedures, the methods of the framework's COM objects), so each callback catches whatever its
// handler throws. Called inside that catch block, this writes where it stopped and what it said
// to the debugger output.
void ReportUnhandledException(const char* where) noexcept;
// The same for a COM method, which then fails with E_OUTOFMEMORY (std::bad_alloc) or E_UNEXPECTED.
HRESULT FailureOfComCall() noexcept;

}  // namespace fw
