#pragma once
// A connection to one HTTP server (an HINTERNET from InternetConnect); hands out its requests.
#include <windows.h>
#include <wininet.h>

#include <string>

#include "common/win/internet_handle.h"
#include "agent/framework/internet_http_file.h"

namespace fw {

class HttpConnection {
 public:
  explicit HttpConnection(win::InternetHandle connection) : m_hConnection(std::move(connection)) {}

  // Opens a request for verb and path (HTTP/1.1, no referrer, no accept types); throws
  // InternetException on failure.
  HttpFile OpenRequest(const char* verb, const std::string& path, DWORD flags,
                       DWORD_PTR context = 1);
  void Close() { m_hConnection.reset(); }

  HINTERNET get() const { return m_hConnection.get(); }

 private:
  win::InternetHandle m_hConnection;
};

}  // namespace fw
