#include "agent/calls/http_wire.h"

#include <algorithm>

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return i == a.size() && !b[i];
}

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
  return text.substr(begin, end - begin);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  c = Lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "HTTP/<digits>.<digits>", blanks, three digits, then the end or a blank and the reason.
int ParseStatusLine(const std::string& line) {
  if (line.compare(0, 5, "HTTP/") != 0) return 0;
  size_t at = 5;
  const size_t major = at;
  while (at < line.size() && IsDigit(line[at])) ++at;
  if (at == major || at >= line.size() || line[at] != '.') return 0;
  const size_t minor = ++at;
  while (at < line.size() && IsDigit(line[at])) ++at;
  if (at == minor || at >= line.size() || line[at] != ' ') return 0;
  while (at < line.size() && line[at] == ' ') ++at;
  if (line.size() - at < 3 || !IsDigit(line[at]) || !IsDigit(line[at + 1]) || !IsDigit(line[at + 2])) return 0;
  if (line.size() - at > 3 && line[at + 3] != ' ') return 0;
  const int status = (line[at] - '0') * 100 + (line[at + 1] - '0') * 10 + (line[at + 2] - '0');
  return status >= 100 ? status : 0;
}

// The prefix every answer must begin with, checked as the bytes come so that an answer that is
// no HTTP fails at once instead of at the deadline.
constexpr char kHttpPrefix[] = "HTTP/";

}  // namespace

bool IsUsableHostName(const std::string& host) {
  if (host.empty()) return false;
  for (char c : host) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) return false;
  }
  return true;
}

const char kGatewayHostPortText[] =
    "The Talmery Gateway's host carries a port after its name: enter the port in the Port setting instead.";
const char kGatewayHostPathText[] =
    "The Talmery Gateway's host must be a name or address, optionally after https://, with no path.";

GatewayHost ParseGatewayHost(const std::string& written) {
  static const char kBadHost[] = "The Talmery Gateway's host name is empty or not a valid name.";
  static const char kHttps[] = "https://";
  const size_t schemeLength = sizeof kHttps - 1;
  const bool https = written.size() >= schemeLength &&
                     std::equal(kHttps, kHttps + schemeLength, written.begin(),
                                [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b); });
  if (!https) {
    // Exactly what it always was: a name with a scheme of another kind fails where it always did.
    return GatewayHost{false, written, IsUsableHostName(written) ? nullptr : kBadHost};
  }
  std::string name = written.substr(schemeLength);
  if (!name.empty() && name.back() == '/') name.pop_back();
  if (!IsUsableHostName(name)) return GatewayHost{true, name, kBadHost};
  if (name.find_first_of("/?#@\\") != std::string::npos) return GatewayHost{true, name, kGatewayHostPathText};
  if (name.front() == '[') {
    const size_t close = name.find(']');
    if (close == std::string::npos) return GatewayHost{true, name, kBadHost};
    if (close + 1 != name.size()) return GatewayHost{true, name, kGatewayHostPortText};
    name = name.substr(1, close - 1);
    if (name.find(':') == std::string::npos) return GatewayHost{true, name, kBadHost};
  } else if (std::count(name.begin(), name.end(), ':') == 1) {
    return GatewayHost{true, name, kGatewayHostPortText};  // an IPv6 address has two or more
  }
  if (name.empty() || name.find_first_of("[]") != std::string::npos) return GatewayHost{true, name, kBadHost};
  return GatewayHost{true, name, nullptr};
}

std::string CharsetOfCodePage(unsigned codePage) {
  if (codePage == 0) return "";
  if (codePage == 65001) return "utf-8";
  return "windows-" + std::to_string(codePage);
}

const char kCallTokenHeader[] = "Talmery-Call-Token";

bool IsCallToken(const std::string& text) {
  return text.size() == kCallTokenDigits && std::all_of(text.begin(), text.end(), [](char c) { return HexValue(c) >= 0; });
}

std::string ComposeCallStatusRequest(const std::string& host, uint16_t port, const std::string& requestId,
                                     const std::string& token) {
  if (requestId.empty() || requestId.size() > 18 || !std::all_of(requestId.begin(), requestId.end(), IsDigit) ||
      !IsCallToken(token) || !IsUsableHostName(host))
    return std::string();
  std::string hostHeader = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (port != kHttpDefaultPort) hostHeader += ":" + std::to_string(port);
  return "GET /calls/" + requestId + " HTTP/1.1\r\nHost: " + hostHeader + "\r\n" + kCallTokenHeader + ": " + token +
         "\r\nUser-Agent: Brisomel\r\nConnection: close\r\n\r\n";
}

std::string ComposeGatewayRequest(const std::string& host, uint16_t port, const std::string& path,
                                  const std::string& body, unsigned codePage) {
  std::string hostHeader = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (port != kHttpDefaultPort) hostHeader += ":" + std::to_string(port);
  std::string request = "POST " + path + " HTTP/1.1\r\n";
  const std::string charset = CharsetOfCodePage(codePage);
  request += "Content-Type: application/x-www-form-urlencoded" + (charset.empty() ? "" : "; charset=" + charset) + "\r\n";
  request += "Host: " + hostHeader + "\r\n";
  request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  request += "User-Agent: Brisomel\r\n";
  request += "\r\n";
  request += body;
  return request;
}

HttpAnswerReader::State HttpAnswerReader::Fail(Failure failure) {
  failure_ = failure;
  phase_ = Phase::End;
  return state_ = State::Failed;
}

HttpAnswerReader::State HttpAnswerReader::Finish() {
  phase_ = Phase::End;
  return state_ = State::Done;
}

HttpAnswerReader::State HttpAnswerReader::Feed(const char* data, size_t size) {
  const char* p = data;
  const char* const end = data + size;
  while (state_ == State::NeedMore && p < end) {
    switch (phase_) {
      case Phase::Head:
        FeedHead(p, end);
        break;
      case Phase::FixedBody:
        if (TakeRemaining(p, end) && state_ == State::NeedMore) Finish();
        break;
      case Phase::ChunkData:
        if (TakeRemaining(p, end)) phase_ = Phase::ChunkDataEnd;
        break;
      case Phase::ChunkSize:
      case Phase::ChunkDataEnd: {
        const char c = *p++;
        if (c != '\n') {
          chunkLine_ += c;
          if (chunkLine_.size() > kMaxChunkLineBytes) Fail(Failure::BadChunk);
          break;
        }
        if (phase_ == Phase::ChunkDataEnd) {
          // The line end after a chunk's data; nothing may stand before it.
          if (chunkLine_.find_first_not_of('\r') == std::string::npos) {
            chunkLine_.clear();
            phase_ = Phase::ChunkSize;
          } else {
            Fail(Failure::BadChunk);
          }
          break;
        }
        ParseChunkSize();
        chunkLine_.clear();
        break;
      }
      case Phase::BodyToClose:
        AppendBody(p, static_cast<size_t>(end - p));
        p = end;
        break;
      case Phase::End:
        p = end;
        break;
    }
  }
  return state_;
}

HttpAnswerReader::State HttpAnswerReader::EndOfStream() {
  if (state_ != State::NeedMore) return state_;
  // A cut-short body is what arrived of it; a cut-short head is no answer at all.
  return phase_ == Phase::Head ? Fail(Failure::NoAnswer) : Finish();
}

void HttpAnswerReader::FeedHead(const char*& p, const char* end) {
  while (p < end) {
    const char c = *p++;
    head_ += c;
    if (headBytes_ + head_.size() > kMaxHeadBytes) {
      Fail(Failure::HeadTooLarge);
      return;
    }
    const size_t n = head_.size();
    if (n <= sizeof kHttpPrefix - 1 && head_[n - 1] != kHttpPrefix[n - 1]) {
      Fail(Failure::NotHttp);
      return;
    }
    // The head ends at the first empty line (CR LF or a bare LF as line ends).
    if (c != '\n' || n < 2) continue;
    size_t before = n - 2;
    if (head_[before] == '\r' && before > 0) --before;
    if (head_[before] != '\n') continue;
    TakeHead(before + 1);
    return;
  }
}

void HttpAnswerReader::TakeHead(size_t headLength) {
  std::string head = head_.substr(0, headLength);
  headBytes_ += head_.size();
  head_.clear();

  size_t lineEnd = head.find('\n');
  const int status = ParseStatusLine(Trim(head.substr(0, lineEnd)));
  if (status == 0) {
    Fail(Failure::NotHttp);
    return;
  }
  if (status < 200) return;  // an interim answer: the real one follows
  status_ = status;
  if (status >= 300 || status == 204) {
    Finish();  // no body, or one that is not read
    return;
  }

  bool haveLength = false, chunked = false, otherCoding = false;
  uint64_t length = 0;
  while (lineEnd != std::string::npos && lineEnd + 1 < head.size()) {
    const size_t start = lineEnd + 1;
    lineEnd = head.find('\n', start);
    const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;  // nothing the framing depends on
    const std::string name = Trim(line.substr(0, colon));
    const std::string value = Trim(line.substr(colon + 1));
    if (EqualsNoCase(name, "Content-Length")) {
      if (value.empty() || value.size() > 18 || !std::all_of(value.begin(), value.end(), IsDigit)) {
        Fail(Failure::BadLength);
        return;
      }
      const uint64_t n = std::stoull(value);
      if (haveLength && n != length) {
        Fail(Failure::BadLength);
        return;
      }
      haveLength = true;
      length = n;
    } else if (EqualsNoCase(name, kCallTokenHeader)) {
      callToken_ = IsCallToken(value) ? value : std::string();
    } else if (EqualsNoCase(name, "Transfer-Encoding")) {
      // Only a last coding "chunked" gives chunks; any other coding runs to the connection's end.
      const size_t comma = value.rfind(',');
      const std::string last = Trim(comma == std::string::npos ? value : value.substr(comma + 1));
      chunked = EqualsNoCase(last, "chunked");
      otherCoding = !chunked;
    }
  }
  if (chunked) {
    phase_ = Phase::ChunkSize;
  } else if (otherCoding || !haveLength) {
    phase_ = Phase::BodyToClose;
  } else if (length == 0) {
    Finish();
  } else {
    phase_ = Phase::FixedBody;
    remaining_ = length;
  }
}

void HttpAnswerReader::ParseChunkSize() {
  std::string size = chunkLine_.substr(0, chunkLine_.find(';'));
  size = Trim(size);
  if (size.empty() || size.size() > 15) {
    Fail(Failure::BadChunk);
    return;
  }
  uint64_t n = 0;
  for (char c : size) {
    const int digit = HexValue(c);
    if (digit < 0) {
      Fail(Failure::BadChunk);
      return;
    }
    n = n * 16 + static_cast<uint64_t>(digit);
  }
  if (n == 0) {
    Finish();  // the last chunk; trailers do not matter
    return;
  }
  remaining_ = n;
  phase_ = Phase::ChunkData;
}

void HttpAnswerReader::AppendBody(const char* data, size_t size) {
  const size_t room = maxBody_ - body_.size();
  body_.append(data, std::min(size, room));
  if (body_.size() == maxBody_) Finish();
}

bool HttpAnswerReader::TakeRemaining(const char*& data, const char* end) {
  const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining_, static_cast<uint64_t>(end - data)));
  AppendBody(data, n);
  data += n;
  remaining_ -= n;
  return remaining_ == 0;
}

const char* DescribeAnswerFailure(HttpAnswerReader::Failure failure) {
  switch (failure) {
    case HttpAnswerReader::Failure::NoAnswer:
      return "The Talmery Gateway closed the connection without an answer.";
    case HttpAnswerReader::Failure::NotHttp:
      return "The Talmery Gateway's answer is not HTTP.";
    case HttpAnswerReader::Failure::HeadTooLarge:
      return "The Talmery Gateway's answer headers are too large.";
    case HttpAnswerReader::Failure::BadLength:
      return "The Talmery Gateway's answer has an invalid length.";
    case HttpAnswerReader::Failure::BadChunk:
      return "The Talmery Gateway's answer has an invalid chunk.";
    case HttpAnswerReader::Failure::None:
      break;
  }
  return "";
}

const char kGatewayUnreachableText[] =
    "Failed to connect to the Talmery Gateway. Make sure it is started.";
const char kGatewayUnrecognizedText[] = "Unrecognized return from Talmery Gateway.";

bool IsGatewayFailureStatus(uint32_t status) { return status < 200 || status >= 300; }

GatewayAnswer InterpretGatewayAnswer(const std::string& answer) {
  GatewayAnswer result;
  // A bracketed identifier wins over everything else, even inside an "ERROR: " line.
  const size_t open = answer.find('[');
  if (open != std::string::npos) {
    const size_t close = answer.find(']', open + 1);
    if (close != std::string::npos) {
      result.requestId = answer.substr(open + 1, close - open - 1);
    } else {
      result.outcome = Outcome::Failed(kGatewayUnrecognizedText);
    }
    return result;
  }
  std::string text = answer;
  const size_t error = text.find("ERROR: ");
  if (error != std::string::npos) text.erase(0, error);
  const size_t lineEnd = text.find("\r\n");
  if (lineEnd != std::string::npos) text.erase(lineEnd);
  result.outcome = Outcome::Failed(text);
  return result;
}
