#include "agent/calls/gateway_client.h"

#include "agent/calls/gateway_answer.h"
#include "agent/calls/settings_store.h"
#include "agent/framework/internet_exception.h"
#include "agent/framework/internet_session.h"
#include "agent/framework/ole_serving_wait.h"

namespace {

constexpr char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded\r\n";
// The gateway answers with one short line; whatever the first read does not deliver is ignored.
constexpr DWORD kAnswerCapacity = 1024;
// The gateway answers at once with a request id. Without a bound, a gateway that accepts the
// connection but never answers would block the user-interface thread for good.
constexpr DWORD kExchangeTimeoutMs = 30000;

// One exchange with the gateway; transport failures raise fw::InternetException.
int Exchange(const std::string& path, const std::string& body, std::string& requestId,
             std::string& errorText) {
  // Declared in this order so that they close in reverse: request, connection, session.
  fw::InternetSession session;
  const std::string host = GetHost();
  // A port stored out of range (by other means than Setup) is reported, never cut to 16 bits.
  const int32_t port = GetPort();
  if (port < 1 || port > 65535) {
    errorText = "The Talmery Gateway port " + std::to_string(port) +
                " is not between 1 and 65535. Correct it in File > Setup.";
    return 0;
  }
  fw::HttpConnection connection = session.GetHttpConnection(host, static_cast<INTERNET_PORT>(port));
  fw::HttpFile request = connection.OpenRequest("POST", path, INTERNET_FLAG_EXISTING_CONNECT);
  request.SetTimeouts(kExchangeTimeoutMs, kExchangeTimeoutMs);
  request.AddRequestHeaders(kFormContentType, HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  request.SendRequest(body);

  DWORD status = 0;
  request.QueryInfoStatusCode(status);
  if (IsGatewayFailureStatus(status)) {
    errorText = kGatewayUnreachableText;
    return 0;
  }

  char answer[kAnswerCapacity];
  const DWORD read = request.Read(answer, sizeof answer);
  GatewayAnswer interpreted = InterpretGatewayAnswer(std::string(answer, read));
  if (interpreted.accepted) {
    requestId = std::move(interpreted.requestId);
    request.Close();
    connection.Close();
    return 1;
  }
  errorText = std::move(interpreted.errorText);
  return 0;
}

}  // namespace

int PostToGateway(const std::string& path, const std::string& body, std::string& requestId,
                  std::string& errorText) {
  requestId.clear();
  errorText.clear();
  int result = 0;
  try {
    // The exchange runs on a worker while this thread keeps serving incoming COM calls, so
    // Outlook's event calls are never held up by a slow gateway; posted reminders stay queued in
    // their order until the message loop runs again.
    fw::RunServingOleCalls([&] { result = Exchange(path, body, requestId, errorText); });
  } catch (const fw::InternetException& e) {
    errorText = e.ErrorMessage();
    return 0;
  }
  return result;
}
