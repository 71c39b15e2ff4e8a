#include "agent/framework/internet_http_file.h"

#include "agent/framework/internet_exception.h"

namespace fw {

bool HttpFile::AddRequestHeaders(const char* headers, DWORD modifiers, DWORD length) {
  return HttpAddRequestHeadersA(m_hRequest.get(), headers, length, modifiers) != FALSE;
}

bool HttpFile::SetTimeouts(DWORD sendMs, DWORD receiveMs) {
  return InternetSetOptionA(m_hRequest.get(), INTERNET_OPTION_SEND_TIMEOUT, &sendMs,
                            sizeof sendMs) &&
         InternetSetOptionA(m_hRequest.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveMs,
                            sizeof receiveMs);
}

void HttpFile::SendRequest(const char* headers, DWORD headersLength, const void* body,
                           DWORD bodyLength) {
  if (!HttpSendRequestA(m_hRequest.get(), headers, headersLength, const_cast<void*>(body),
                        bodyLength)) {
    ThrowLastInternetError();
  }
  DWORD status = 0;
  if (!QueryInfoStatusCode(status) || status == 0) {
    throw InternetException(ERROR_HTTP_INVALID_SERVER_RESPONSE);
  }
}

bool HttpFile::QueryInfoStatusCode(DWORD& status) const {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (!HttpQueryInfoA(m_hRequest.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value,
                      &size, nullptr)) {
    return false;
  }
  status = value;
  return true;
}

DWORD HttpFile::Read(void* buffer, DWORD count) {
  DWORD read = 0;
  if (!InternetReadFile(m_hRequest.get(), buffer, count, &read)) ThrowLastInternetError();
  return read;
}

}  // namespace fw
