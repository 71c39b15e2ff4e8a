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

// Every kind, in the order the metrics list them.
constexpr Refusal kRefusals[] = {
    Refusal::NotAClient, Refusal::TooManyConnections, Refusal::MalformedHead, Refusal::Idle,
    Refusal::TooSlow,    Refusal::Browser,            Refusal::ContentType,   Refusal::TooLarge,
    Refusal::Busy,       Refusal::BadRequest,         Refusal::NumberNotAllowed, Refusal::ClientRate,
    Refusal::DailyCalls, Refusal::QueueFull,          Refusal::StoreError,    Refusal::MetricsClient,
};

// The metric label: not_a_client, too_many_connections, ...
constexpr const char* RefusalLabel(Refusal kind) {
  switch (kind) {
    case Refusal::NotAClient: return "not_a_client";
    case Refusal::TooManyConnections: return "too_many_connections";
    case Refusal::MalformedHead: return "malformed_head";
    case Refusal::Idle: return "idle";
    case Refusal::TooSlow: return "too_slow";
    case Refusal::Browser: return "browser";
    case Refusal::ContentType: return "content_type";
    case Refusal::TooLarge: return "too_large";
    case Refusal::Busy: return "busy";
    case Refusal::BadRequest: return "bad_request";
    case Refusal::NumberNotAllowed: return "number_not_allowed";
    case Refusal::ClientRate: return "client_rate";
    case Refusal::DailyCalls: return "daily_calls";
    case Refusal::QueueFull: return "queue_full";
    case Refusal::StoreError: return "store_error";
    case Refusal::MetricsClient: return "metrics_client";
  }
  return "bad_request";
}

}  // namespace talmery
