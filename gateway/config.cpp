#include "gateway/config.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "gateway/call_request.h"
#include "gateway/number_patterns.h"

namespace talmery {
namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool ParseInt(const std::string& text, int low, int high, int& out, std::string& error) {
  if (text.empty()) {
    error = "a whole number is needed";
    return false;
  }
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || text[0] == ' ' || text[0] == '+') {
    error = "\"" + text + "\" is not a whole number";
    return false;
  }
  if (v < low || v > high) {
    error = text + " is outside " + std::to_string(low) + " to " + std::to_string(high);
    return false;
  }
  out = static_cast<int>(v);
  return true;
}

bool ParseBool(const std::string& text, bool& out, std::string& error) {
  if (text == "yes" || text == "true" || text == "1" || text == "on") {
    out = true;
    return true;
  }
  if (text == "no" || text == "false" || text == "0" || text == "off") {
    out = false;
    return true;
  }
  error = "\"" + text + "\" is not yes or no";
  return false;
}

bool ParseHostPort(const std::string& text, std::string& host, int& port, std::string& error) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    error = "\"" + text + "\" is not host:port";
    return false;
  }
  int p = 0;
  if (!ParseInt(text.substr(colon + 1), 0, 65535, p, error)) return false;
  host = text.substr(0, colon);
  port = p;
  return true;
}

bool ParseRange(const std::string& text, int& first, int& last, std::string& error) {
  size_t dash = text.find('-');
  if (dash == std::string::npos) {
    error = "\"" + text + "\" is not first-last";
    return false;
  }
  int a = 0, b = 0;
  if (!ParseInt(Trim(text.substr(0, dash)), 1024, 65535, a, error) ||
      !ParseInt(Trim(text.substr(dash + 1)), 1024, 65535, b, error))
    return false;
  if (b < a) {
    error = "the range " + text + " is empty";
    return false;
  }
  first = a;
  last = b;
  return true;
}

// A value is the rest of the line after '=', trimmed; a '#' after a blank starts a comment
// ("max_calls = 4   # at once"). A value in double quotes is taken as written, blanks and '#'
// included; inside the quotes \" stands for a quote and \\ for a backslash, and after the
// closing quote only blanks or a comment may follow.
bool ParseValue(const std::string& text, std::string& value, std::string& error) {
  const std::string rest = Trim(text);
  value.clear();
  if (rest.empty() || rest[0] != '"') {
    value = rest;
    for (size_t i = 1; i < value.size(); ++i) {
      if (value[i] == '#' && (value[i - 1] == ' ' || value[i - 1] == '\t')) {
        value = Trim(value.substr(0, i));
        break;
      }
    }
    return true;
  }
  size_t i = 1;
  for (; i < rest.size() && rest[i] != '"'; ++i) {
    if (rest[i] == '\\') {
      if (i + 1 < rest.size() && (rest[i + 1] == '"' || rest[i + 1] == '\\')) {
        value += rest[++i];
        continue;
      }
      error = "in quotes a backslash must be followed by \" or \\ (write \\\\ for one backslash)";
      return false;
    }
    value += rest[i];
  }
  if (i >= rest.size()) {
    error = "the closing \" is missing";
    return false;
  }
  const std::string after = Trim(rest.substr(i + 1));
  if (!after.empty() && after[0] != '#') {
    error = "nothing but a comment may follow the closing \"";
    return false;
  }
  return true;
}

using Setter = std::function<bool(Config&, const std::string&, std::string&)>;

Setter Text(std::string Config::*field) {
  return [field](Config& c, const std::string& v, std::string&) {
    c.*field = v;
    return true;
  };
}
Setter SipText(std::string SipSettings::*field) {
  return [field](Config& c, const std::string& v, std::string&) {
    c.sip.*field = v;
    return true;
  };
}
Setter Int(int Config::*field, int low, int high) {
  return [=](Config& c, const std::string& v, std::string& e) { return ParseInt(v, low, high, c.*field, e); };
}
Setter ListenInt(int ListenTimings::*field, int low, int high) {
  return [=](Config& c, const std::string& v, std::string& e) { return ParseInt(v, low, high, c.listening.*field, e); };
}
Setter SipInt(int SipSettings::*field, int low, int high) {
  return [=](Config& c, const std::string& v, std::string& e) { return ParseInt(v, low, high, c.sip.*field, e); };
}

const std::map<std::string, Setter>& Setters() {
  static const std::map<std::string, Setter> setters = {
      {"listen", [](Config& c, const std::string& v, std::string& e) { return ParseHostPort(v, c.listenHost, c.listenPort, e); }},
      {"listen_plain", [](Config& c, const std::string& v, std::string& e) {
         return ParseHostPort(v, c.listenPlainHost, c.listenPlainPort, e);
       }},
      {"tls_certificate", Text(&Config::tlsCertificate)},
      {"tls_key", Text(&Config::tlsKey)},
      {"database", Text(&Config::database)},
      {"spool", Text(&Config::spool)},
      {"node", Text(&Config::node)},
      {"lease_seconds", Int(&Config::leaseSeconds, 1, 3600)},
      {"mode", [](Config& c, const std::string& v, std::string& e) {
         if (v == "sip") c.mode = DialMode::Sip;
         else if (v == "speaker") c.mode = DialMode::Speaker;
         else {
           e = "\"" + v + "\" is not sip or speaker";
           return false;
         }
         return true;
       }},
      {"speaker_dir", Text(&Config::speakerDir)},
      {"max_calls", Int(&Config::maxCalls, 1, 200)},
      {"attempts", Int(&Config::attempts, 1, 100)},
      {"retry_pause", Int(&Config::retryPause, 0, 86400)},
      {"max_wait", Int(&Config::maxWait, 1, 10080)},
      {"ring_time", Int(&Config::ringTime, 1, 600)},
      {"max_call_time", Int(&Config::maxCallTime, 5, 86400)},
      {"max_message_seconds", Int(&Config::maxMessageSeconds, 10, 3600)},
      {"repeat", Int(&Config::repeat, 1, 10)},
      {"voice", Text(&Config::voice)},
      {"speech_rate", Int(&Config::speechRate, 80, 450)},
      {"show_text", [](Config& c, const std::string& v, std::string& e) { return ParseBool(v, c.showText, e); }},
      {"confirm", [](Config& c, const std::string& v, std::string& e) { return ParseBool(v, c.confirm, e); }},
      // What a mailbox gets, and the callee's key 2.
      {"voicemail", [](Config& c, const std::string& v, std::string& e) {
         if (v == "leave") c.voicemail = Voicemail::Leave;
         else if (v == "hang_up") c.voicemail = Voicemail::HangUp;
         else if (v == "retry") c.voicemail = Voicemail::Retry;
         else {
           e = "\"" + v + "\" is not leave, hang_up or retry";
           return false;
         }
         return true;
       }},
      {"snooze_minutes", Int(&Config::snoozeMinutes, 1, 1440)},
      {"snoozes", Int(&Config::snoozes, 0, 10)},
      // Listening to the callee before the message (see listener.h).
      {"listen_initial_silence", ListenInt(&ListenTimings::initialSilenceMs, 500, 10000)},
      {"listen_greeting", ListenInt(&ListenTimings::greetingMs, 1000, 10000)},
      {"listen_after_greeting", ListenInt(&ListenTimings::afterGreetingMs, 200, 3000)},
      {"listen_word_min", ListenInt(&ListenTimings::minWordMs, 20, 1000)},
      {"listen_word_max", ListenInt(&ListenTimings::maxWordMs, 1000, 30000)},
      {"listen_words", ListenInt(&ListenTimings::maxWords, 1, 50)},
      {"listen_total", ListenInt(&ListenTimings::totalMs, 1000, 60000)},
      {"listen_machine_silence", ListenInt(&ListenTimings::machineSilenceMs, 500, 10000)},
      {"listen_greeting_wait", ListenInt(&ListenTimings::greetingWaitMs, 1000, 120000)},
      {"page_refresh", Int(&Config::pageRefresh, 1, 3600)},
      {"page_calls", Int(&Config::pageCalls, 1, 10000)},
      {"http_threads", Int(&Config::httpThreads, 2, 256)},
      {"request_seconds", Int(&Config::requestSeconds, 1, 300)},
      {"clients", [](Config& c, const std::string& v, std::string& e) {
         c.clientsSet = true;
         if (!ParseAddressBlocks(v, c.clients, e)) return false;
         if (c.clients.empty()) e = "at least one address or block is needed";
         return !c.clients.empty();
       }},
      {"numbers", [](Config& c, const std::string& v, std::string& e) { return ParseNumberPatterns(v, c.numbers, e); }},
      {"metrics_clients", [](Config& c, const std::string& v, std::string& e) {
         c.metricsClients.clear();
         if (v == "none") return true;
         if (!ParseAddressBlocks(v, c.metricsClients, e)) return false;
         if (c.metricsClients.empty()) e = "at least one address or block is needed (or none)";
         return !c.metricsClients.empty();
       }},
      {"client_rate", Int(&Config::clientRate, 0, 1000000)},
      {"daily_calls", Int(&Config::dailyCalls, 0, 100000000)},
      {"max_queued", Int(&Config::maxQueued, 0, 10000000)},
      {"client_connections", Int(&Config::clientConnections, 1, 10000)},
      {"agent_code_page", [](Config& c, const std::string& v, std::string& e) {
         if (!ParseInt(v, 1, 65535, c.agentCodePage, e)) return false;
         if (!CodePageKnown(c.agentCodePage)) e = v + " is not a code page known here";
         return CodePageKnown(c.agentCodePage);
       }},
      {"sip.user", SipText(&SipSettings::user)},
      {"sip.domain", SipText(&SipSettings::domain)},
      {"sip.auth_user", SipText(&SipSettings::authUser)},
      {"sip.realm", SipText(&SipSettings::realm)},
      {"sip.password", SipText(&SipSettings::password)},
      {"sip.outbound_proxy", SipText(&SipSettings::outboundProxy)},
      {"sip.register_seconds", SipInt(&SipSettings::registerSeconds, 0, 86400)},
      {"sip.register_retry", SipInt(&SipSettings::registerRetry, 1, 1800)},
      {"sip.dial", SipText(&SipSettings::dial)},
      {"sip.local_address", SipText(&SipSettings::localAddress)},
      {"sip.sip_port", SipInt(&SipSettings::sipPort, 1024, 65000)},
      {"sip.rtp_ports", [](Config& c, const std::string& v, std::string& e) {
         return ParseRange(v, c.sip.rtpPortFirst, c.sip.rtpPortLast, e);
       }},
      {"sip.codecs", SipText(&SipSettings::codecs)},
      {"sip.transport", [](Config& c, const std::string& v, std::string& e) {
         if (v != "udp" && v != "tcp" && v != "tls") {
           e = "\"" + v + "\" is not udp, tcp or tls";
           return false;
         }
         c.sip.transport = v;
         return true;
       }},
      {"sip.tls_ca_file", SipText(&SipSettings::tlsCaFile)},
      {"sip.tls_certificate", SipText(&SipSettings::tlsCertificate)},
      {"sip.tls_verify", [](Config& c, const std::string& v, std::string& e) { return ParseBool(v, c.sip.tlsVerify, e); }},
      {"sip.srtp", [](Config& c, const std::string& v, std::string& e) { return ParseBool(v, c.sip.srtp, e); }},
  };
  return setters;
}

// The user, domain and auth user go into SIP headers and URIs as they are: ';', '<', '>', quotes
// and blanks in them would add parameters or break the header.
bool SafeAccountValue(const std::string& v) {
  for (char c : v)
    if (c == ';' || c == '<' || c == '>' || c == '"' || c == ' ' || c == '\t' || c == '\n' || c == '\r')
      return false;
  return true;
}

// The proxy is a SIP URI that may carry URI parameters ("sip:pbx.example.com;transport=tcp"). It
// becomes the calls' and the registration's Route, so it must hold no quote, no blank and no
// angle bracket; a transport, when given, is one the gateway binds (UDP, TCP or TLS).
bool ValidProxy(const std::string& uri, std::string& error) {
  error = "sip.outbound_proxy: ";
  const size_t colon = uri.find(':');
  const std::string scheme = colon == std::string::npos ? "" : uri.substr(0, colon);
  if (scheme != "sip" && scheme != "sips") {
    error += "\"" + uri + "\" is not a sip: address";
    return false;
  }
  for (char c : uri) {
    if (c == '"' || c == '<' || c == '>' || static_cast<unsigned char>(c) <= ' ' || c == 0x7f) {
      error += "\"" + uri + "\" must not hold blanks, quotes or angle brackets";
      return false;
    }
  }
  const size_t semi = uri.find(';');
  if (uri.substr(colon + 1, semi == std::string::npos ? std::string::npos : semi - colon - 1).empty()) {
    error += "\"" + uri + "\" names no host";
    return false;
  }
  for (size_t at = semi; at != std::string::npos;) {
    const size_t next = uri.find(';', at + 1);
    const std::string param = uri.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    if (param.compare(0, 10, "transport=") == 0) {
      const std::string t = param.substr(10);
      if (t != "udp" && t != "tcp" && t != "tls") {
        error += "transport=" + t + " is not udp, tcp or tls";
        return false;
      }
    }
    at = next;
  }
  error.clear();
  return true;
}

// The value of a URI's transport parameter ("" when it names none).
std::string TransportOf(const std::string& uri) {
  for (size_t at = uri.find(';'); at != std::string::npos;) {
    const size_t next = uri.find(';', at + 1);
    const std::string param = uri.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    if (param.compare(0, 10, "transport=") == 0) return param.substr(10);
    at = next;
  }
  return "";
}

}  // namespace

bool UsesTls(const SipSettings& sip) {
  return sip.transport == "tls" || sip.outboundProxy.compare(0, 5, "sips:") == 0 ||
         TransportOf(sip.outboundProxy) == "tls";
}

std::string TransportUri(const SipSettings& sip, const std::string& uri) {
  const std::string transport = UsesTls(sip) ? "tls" : sip.transport;
  if (transport.empty() || uri.empty()) return uri;
  std::string out = uri.compare(0, 5, "sips:") == 0 ? "sip:" + uri.substr(5) : uri;
  if (TransportOf(out).empty()) {
    const size_t headers = out.find('?');
    out.insert(headers == std::string::npos ? out.size() : headers, ";transport=" + transport);
  }
  return out;
}

std::string Config::DialTemplate() const {
  if (!sip.dial.empty()) return sip.dial;
  return "sip:{number}@" + (sip.domain.empty() ? std::string("127.0.0.1") : sip.domain);
}

bool Config::SharedStore() const {
  return database.compare(0, 13, "postgresql://") == 0 || database.compare(0, 11, "postgres://") == 0;
}

std::string Config::NodeName() const {
  if (!node.empty()) return node;
  char host[256] = "";
  if (gethostname(host, sizeof host - 1) != 0) return "";
  return host;
}

namespace {

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Letters, digits, '.', '-' and '_': a node's name goes into the SIP Contact's user part and the
// log's fields as it is.
bool ValidNodeName(const std::string& name) {
  if (name.empty() || name.size() > 63) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') return false;
  return true;
}

}  // namespace

const char kPasswordInUri[] =
    "the URI carries a password, which must not be written in the settings file: remove it and put it in "
    "~/.pgpass of the gateway's user (or in the file PGPASSFILE names)";

std::string UriProblem(const std::string& uri) {
  const std::string why = kPasswordInUri;
  const size_t start = uri.find("://") + 3;
  const size_t end = uri.find_first_of("/?", start);
  const std::string authority = uri.substr(start, end == std::string::npos ? std::string::npos : end - start);
  const size_t at = authority.rfind('@');
  if (at != std::string::npos && authority.substr(0, at).find(':') != std::string::npos) return why;
  const size_t query = uri.find('?');
  for (size_t from = query; from != std::string::npos;) {
    const size_t next = uri.find('&', from + 1);
    const std::string param = uri.substr(from + 1, next == std::string::npos ? std::string::npos : next - from - 1);
    if (PercentDecoded(param.substr(0, param.find('='))) == "password") return why;
    from = next;
  }
  return "";
}

std::string Config::SpoolDir() const {
  if (!spool.empty()) return spool;
  if (SharedStore()) return "/var/lib/talmery-gateway";
  size_t slash = database.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : database.substr(0, slash));
}

bool ParseConfigText(const std::string& text, Config& config, std::string& error) {
  std::istringstream in(text);
  std::string raw, section;
  int lineNo = 0;
  while (std::getline(in, raw)) {
    ++lineNo;
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    const std::string where = "line " + std::to_string(lineNo) + ": ";
    if (line.front() == '[') {
      if (line.back() != ']') {
        error = where + "a section name must end with ]";
        return false;
      }
      section = Trim(line.substr(1, line.size() - 2));
      if (section != "sip" && !section.empty()) {
        error = where + "unknown section [" + section + "]";
        return false;
      }
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      error = where + "\"key = value\" expected";
      return false;
    }
    std::string key = Trim(line.substr(0, eq));
    if (!section.empty() && key.find('.') == std::string::npos) key = section + "." + key;
    std::string value, why;
    if (!ParseValue(line.substr(eq + 1), value, why)) {
      error = where + key + ": " + why;
      return false;
    }
    auto it = Setters().find(key);
    if (it == Setters().end()) {
      // Settings of the SIP user agents the gateway once ran as processes of their own.
      if (key == "sip.control_port" || key == "sip.baresip" || key == "sip.module_path")
        error = where + key + " is no longer used (calls are placed inside the gateway): remove it";
      else
        error = where + "unknown setting \"" + key + "\"";
      return false;
    }
    if (!it->second(config, value, why)) {
      error = where + key + ": " + why;
      return false;
    }
  }
  return true;
}

bool LoadConfigFile(const std::string& path, Config& config, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (!ParseConfigText(text.str(), config, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

bool ValidateConfig(const Config& config, std::string& error) {
  if (config.database.empty()) {
    error = "database: a file name is needed";
    return false;
  }
  if (config.SharedStore()) {
    if (const std::string problem = UriProblem(config.database); !problem.empty()) {
      error = "database: " + problem;
      return false;
    }
  }
  if (!ValidNodeName(config.NodeName())) {
    error = "node: \"" + config.NodeName() + "\" cannot name this gateway (1 to 63 letters, digits, '.', '-' or '_')" +
            (config.node.empty() ? ": the host name is used when node is not set" : "");
    return false;
  }
  if (config.tlsCertificate.empty() != config.tlsKey.empty()) {
    error = std::string(config.tlsKey.empty() ? "tls_certificate" : "tls_key") + " is set, but " +
            (config.tlsKey.empty() ? "tls_key" : "tls_certificate") + " is not: HTTPS needs both (or neither)";
    return false;
  }
  if (config.listenPlainPort >= 0 && !config.Https()) {
    error = "listen_plain is set, but listen is not HTTPS (tls_certificate and tls_key): listen alone serves in clear";
    return false;
  }
  if (config.listenPlainPort >= 0 && config.listenPlainHost == config.listenHost && config.listenPlainPort == config.listenPort &&
      config.listenPort != 0) {
    error = "listen_plain is the address of listen: give the clear listener a port of its own";
    return false;
  }
  if (!config.clientsSet && config.listenPlainPort >= 0 && !IsLoopbackHost(config.listenPlainHost)) {
    error = "listen_plain is " + config.listenPlainHost +
            ", reachable from other machines, but clients is not set: name the addresses or networks that may "
            "post calls (clients = 192.0.2.0/24, 2001:db8::/32), or listen on 127.0.0.1";
    return false;
  }
  if (!config.clientsSet && !IsLoopbackHost(config.listenHost)) {
    error = "listen is " + config.listenHost +
            ", reachable from other machines, but clients is not set: name the addresses or networks that may "
            "post calls (clients = 192.0.2.0/24, 2001:db8::/32), or listen on 127.0.0.1";
    return false;
  }
  const ListenTimings& l = config.listening;
  if (l.greetingWaitMs < l.machineSilenceMs) {
    error = "listen_greeting_wait (" + std::to_string(l.greetingWaitMs) +
            " ms) is shorter than listen_machine_silence (" + std::to_string(l.machineSilenceMs) +
            " ms): a mailbox's greeting would never be heard to its end";
    return false;
  }
  if (l.totalMs < l.initialSilenceMs) {
    error = "listen_total (" + std::to_string(l.totalMs) + " ms) is shorter than listen_initial_silence (" +
            std::to_string(l.initialSilenceMs) + " ms): a callee who waits would be \"not sure who\"";
    return false;
  }
  if (config.mode == DialMode::Speaker) {
    if (config.speakerDir.empty()) {
      error = "speaker mode needs speaker_dir (or --speaker DIR)";
      return false;
    }
    return true;
  }
  const SipSettings& s = config.sip;
  for (const std::string* v : {&s.user, &s.domain, &s.authUser, &s.codecs}) {
    if (!SafeAccountValue(*v)) {
      error = "sip.user, sip.domain, sip.auth_user and sip.codecs must not hold blanks or ; < > \"";
      return false;
    }
  }
  // The password only enters the digest, never a header or a file, so it may hold any printable
  // character.
  for (char c : s.password) {
    if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) {
      error = "sip.password: only printable characters are allowed";
      return false;
    }
  }
  if (s.password.size() > kMaxPasswordBytes) {
    error = "sip.password: at most " + std::to_string(kMaxPasswordBytes) + " bytes are allowed";
    return false;
  }
  if (!s.outboundProxy.empty() && !ValidProxy(s.outboundProxy, error)) return false;
  if (UsesTls(s)) {
    // Nothing may fall back to clear text: every URI the gateway sends to is TLS or names no
    // transport (and gets TLS).
    for (const std::string* uri : {&s.outboundProxy, &s.dial}) {
      const std::string t = TransportOf(*uri);
      if (!t.empty() && t != "tls") {
        error = "\"" + *uri + "\" names transport=" + t + ", but SIP goes over TLS (sip.transport = tls or a sips: proxy)";
        return false;
      }
    }
    if (!s.transport.empty() && s.transport != "tls") {
      error = "sip.transport = " + s.transport + ", but sip.outbound_proxy is TLS: set sip.transport = tls";
      return false;
    }
  } else if (s.srtp) {
    error = "sip.srtp: the media keys travel in the SDP, in clear without TLS: set sip.transport = tls";
    return false;
  } else if (!s.tlsCaFile.empty() || !s.tlsCertificate.empty()) {
    error = std::string(s.tlsCaFile.empty() ? "sip.tls_certificate" : "sip.tls_ca_file") +
            " is set, but SIP does not go over TLS: set sip.transport = tls";
    return false;
  }
  if (s.user.empty()) {
    error = "sip.user: a user name is needed";
    return false;
  }
  if (s.registerSeconds > 0 && s.domain.empty()) {
    error = "sip.register_seconds: a registration needs sip.domain (the registrar)";
    return false;
  }
  const std::string dial = config.DialTemplate();
  if (dial.find("{number}") == std::string::npos || dial.compare(0, 4, "sip:") != 0) {
    error = "sip.dial: a sip: address with {number} is needed";
    return false;
  }
  unsigned char address[16];
  if (inet_pton(AF_INET, s.localAddress.c_str(), address) != 1 && inet_pton(AF_INET6, s.localAddress.c_str(), address) != 1) {
    error = "sip.local_address: \"" + s.localAddress + "\" is not an IP address (this machine's address towards the PBX)";
    return false;
  }
  // Each call takes an RTP port and the RTCP port above it, picked at random within the range:
  // twice that leaves room to find a free pair at once.
  if ((s.rtpPortLast - s.rtpPortFirst + 1) / config.maxCalls < 4) {
    error = "sip.rtp_ports: at least 4 ports per call at once are needed";
    return false;
  }
  return true;
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1][0] == '-') {
        error = a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    if (a == "--config" || a == "-c") {
      if (!value(line.configPath)) return false;
    } else if (a == "--listen") {
      if (!value(line.listen)) return false;
    } else if (a == "--database") {
      if (!value(line.database)) return false;
    } else if (a == "--speaker") {
      if (!value(line.speakerDir)) return false;
    } else if (a == "--list") {
      line.list = true;
      if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') {
        if (!ParseInt(args[++i], 1, 100000, line.listCount, error)) {
          error = "--list: " + error;
          return false;
        }
      }
    } else if (a == "--help" || a == "-h") {
      line.help = true;
    } else {
      error = "unknown option " + a;
      return false;
    }
  }
  return true;
}

bool ApplyCommandLine(const CommandLine& line, Config& config, std::string& error) {
  if (!line.listen.empty() && !ParseHostPort(line.listen, config.listenHost, config.listenPort, error)) {
    error = "--listen: " + error;
    return false;
  }
  if (!line.database.empty()) config.database = line.database;
  if (!line.speakerDir.empty()) {
    config.mode = DialMode::Speaker;
    config.speakerDir = line.speakerDir;
  }
  return true;
}

const char* Usage() {
  return "usage: talmery-gateway [--config FILE] [--listen HOST:PORT] [--database FILE]\n"
         "                       [--speaker DIR] [--list [COUNT]] [--help]\n"
         "  --config FILE     settings (default /etc/talmery-gateway/talmery-gateway.conf if present)\n"
         "  --listen H:P      HTTP address for call requests and the status page (default 127.0.0.1:8155)\n"
         "  --database FILE   the call store: a SQLite file, or a postgresql:// URI shared by several gateways\n"
         "  --speaker DIR     no telephone: print each call and write its speech to DIR/call-<id>.wav\n"
         "  --list [COUNT]    print the most recent calls and exit\n";
}

}  // namespace talmery
