#pragma once
// What a refused request was refused for, said once where the refusal is decided. The metrics
// count it under its label; the sentence logged and answered beside it is for people and may be
// reworded freely.

namespace talmery {

enum class Refusal {
  NotAClient,          // the address is not among `clients`
  TooManyConnections,  // client_connections open at once
  MalformedHead,       // a head the HTTP library could not take
  Idle,                // nothing sent within request_seconds
  TooSlow,             // the request did not arrive whole within request_seconds
  Browser,             // a browser's headers (Origin, Sec-Fetch-*)
  ContentType,         // not a URL-encoded form, or an unknown charset
  TooLarge,            // beyond the body limit
  Busy,                // the gateway's buffers for bodies are full
  BadRequest,          // the form or its framing is wrong
  NumberNotAllowed,    // `numbers` refuses the number
  ClientRate,          // client_rate
  DailyCalls,          // daily_calls
  QueueFull,           // max_queued
  StoreError,          // the call could not be stored
  MetricsClient,       // /metrics asked by an address not among metrics_clients
};

// Every kind with its metric label, in the order the metrics list them.
struct RefusalRow {
  Refusal kind;
  const char* label;
};
constexpr RefusalRow kRefusals[] = {
    {Refusal::NotAClient, "not_a_client"},
    {Refusal::TooManyConnections, "too_many_connections"},
    {Refusal::MalformedHead, "malformed_head"},
    {Refusal::Idle, "idle"},
    {Refusal::TooSlow, "too_slow"},
    {Refusal::Browser, "browser"},
    {Refusal::ContentType, "content_type"},
    {Refusal::TooLarge, "too_large"},
    {Refusal::Busy, "busy"},
    {Refusal::BadRequest, "bad_request"},
    {Refusal::NumberNotAllowed, "number_not_allowed"},
    {Refusal::ClientRate, "client_rate"},
    {Refusal::DailyCalls, "daily_calls"},
    {Refusal::QueueFull, "queue_full"},
    {Refusal::StoreError, "store_error"},
    {Refusal::MetricsClient, "metrics_client"},
};

// The metric label: not_a_client, too_many_connections, ...
constexpr const char* RefusalLabel(Refusal kind) {
  for (const RefusalRow& row : kRefusals)
    if (row.kind == kind) return row.label;
  return "bad_request";
}

}  // namespace talmery
