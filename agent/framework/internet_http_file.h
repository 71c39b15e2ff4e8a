#pragma once
// One HTTP request and its response (an HINTERNET from HttpOpenRequest). Failures of sending and
// reading throw InternetException; the handle is closed by Close() or at destruction.
#include <windows.h>
#include <wininet.h>

#include <string>

#include "common/win/internet_handle.h"

namespace fw {

class HttpFile {
 public:
  explicit HttpFile(win::InternetHandle request) : m_hRequest(std::move(request)) {}

  // Adds request headers ("Name: value\r\n"); length -1 means up to the NUL.
  bool AddRequestHeaders(const char* headers, DWORD modifiers,
                         DWORD length = static_cast<DWORD>(-1));
  // Bounds each send and each wait for data of this request (InternetSetOption on the request:
  // Wine does not pass a session's time-outs on to its requests, and has none by default).
  bool SetTimeouts(DWORD sendMs, DWORD receiveMs);
  // Sends the request with the given bytes as its body and waits for the response headers. An
  // answer without a status line counts as a failure (ERROR_HTTP_INVALID_SERVER_RESPONSE), as on
  // Windows; Wine would take a connection closed without a word for an empty answer.
  void SendRequest(const char* headers, DWORD headersLength, const void* body, DWORD bodyLength);
  void SendRequest(const std::string& body) {
    SendRequest(nullptr, 0, body.data(), static_cast<DWORD>(body.size()));
  }
  // The response's status code; false (status untouched) when it cannot be queried.
  bool QueryInfoStatusCode(DWORD& status) const;
  // One InternetReadFile: the bytes delivered, 0 at the end of the response.
  DWORD Read(void* buffer, DWORD count);
  void Close() { m_hRequest.reset(); }

  HINTERNET get() const { return m_hRequest.get(); }

 private:
  win::InternetHandle m_hRequest;
};

}  // namespace fw
