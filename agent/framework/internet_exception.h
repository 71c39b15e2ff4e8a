#pragma once
// The failure of a WinINet call, thrown by the framework's Internet classes.
#include <windows.h>

#include <exception>
#include <string>

namespace fw {

class InternetException : public std::exception {
 public:
  // Captures the description at once: WinINet keeps the server's extended error text per thread
  // only until the next call.
  explicit InternetException(DWORD errorCode);

  DWORD ErrorCode() const { return m_dwError; }
  // WinINet's own description of the failure (at most 1023 characters), or a text naming the
  // error number when WinINet has none.
  const std::string& ErrorMessage() const { return m_strMessage; }
  const char* what() const noexcept override { return m_strMessage.c_str(); }

 private:
  DWORD m_dwError;
  std::string m_strMessage;
};

// Throws InternetException for GetLastError().
[[noreturn]] void ThrowLastInternetError();

// The description of a WinINet (or, failing that, system) error code, at most 1023 characters.
std::string DescribeInternetError(DWORD errorCode);

}  // namespace fw
