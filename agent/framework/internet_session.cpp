#include "common/win/internet_handle.h"
#include "agent/framework/internet_session.h"

#include "agent/framework/app_title.h"
#include "agent/framework/internet_exception.h"

namespace fw {

InternetSession::InternetSession(const char* agent, DWORD_PTR context, DWORD accessType,
                                 const char* proxy, const char* proxyBypass, DWORD flags)
    : m_hSession(
          InternetOpenA(agent ? agent : AppTitle().c_str(), accessType, proxy, proxyBypass, flags)),
      m_dwContext(context) {
  if (!m_hSession) ThrowLastInternetError();
}

HttpConnection InternetSession::GetHttpConnection(const std::string& server, INTERNET_PORT port,
                                                  const char* user, const char* password) {
  win::InternetHandle connection(InternetConnectA(m_hSession.get(), server.c_str(), port, user, password,
                                             INTERNET_SERVICE_HTTP, 0, m_dwContext));
  if (!connection) ThrowLastInternetError();
  return HttpConnection(std::move(connection));
}

}  // namespace fw
