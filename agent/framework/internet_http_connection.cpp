#include "common/win/internet_handle.h"
#include "agent/framework/internet_http_connection.h"

#include "agent/framework/internet_exception.h"

namespace fw {

HttpFile HttpConnection::OpenRequest(const char* verb, const std::string& path, DWORD flags,
                                     DWORD_PTR context) {
  win::InternetHandle request(HttpOpenRequestA(m_hConnection.get(), verb, path.c_str(), nullptr, nullptr,
                                          nullptr, flags, context));
  if (!request) ThrowLastInternetError();
  return HttpFile(std::move(request));
}

}  // namespace fw
