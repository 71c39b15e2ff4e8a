#pragma once
// A WinINet session (InternetOpen), closed at destruction; hands out HTTP connections.
#include <windows.h>
#include <wininet.h>

#include <string>

#include "common/win/internet_handle.h"
#include "agent/framework/internet_http_connection.h"

namespace fw {

class InternetSession {
 public:
  // Without an agent name the application title is the user agent. The default access type
  // follows the system's proxy settings. Throws InternetException when no session can be opened.
  explicit InternetSession(const char* agent = nullptr, DWORD_PTR context = 1,
                           DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG,
                           const char* proxy = nullptr, const char* proxyBypass = nullptr,
                           DWORD flags = 0);

  // Connects to an HTTP server (port 0: the protocol's default); throws InternetException.
  HttpConnection GetHttpConnection(const std::string& server, INTERNET_PORT port,
                                   const char* user = nullptr, const char* password = nullptr);
  void Close() { m_hSession.reset(); }

  HINTERNET get() const { return m_hSession.get(); }

 private:
  win::InternetHandle m_hSession;
  DWORD_PTR m_dwContext;
};

}  // namespace fw
