#include "tools/gateway/request_parser.h"

#include <cctype>

namespace gateway {

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& h : headers)
    if (EqualsNoCase(h.first, name)) return h.second;
  return "";
}

bool RecordedRequest::HasHeader(const std::string& name) const {
  for (const auto& h : headers)
    if (EqualsNoCase(h.first, name)) return true;
  return false;
}

RequestParser::Status RequestParser::Fail(const char* why) {
  error_ = why;
  return status_ = Status::Bad;
}

RequestParser::Status RequestParser::Feed(const char* data, size_t size) {
  if (status_ != Status::NeedMore) return status_;
  buffer_.append(data, size);
  if (!headParsed_) {
    // The head ends at the first empty line; bare LF line ends are tolerated.
    size_t crlf = buffer_.find("\r\n\r\n");
    size_t lf = buffer_.find("\n\n");
    size_t headEnd, bodyStart;
    if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) {
      headEnd = crlf;
      bodyStart = crlf + 4;
    } else if (lf != std::string::npos) {
      headEnd = lf;
      bodyStart = lf + 2;
    } else {
      if (buffer_.size() > kMaxHeadBytes) return Fail("request head too large");
      return Status::NeedMore;
    }
    if (ParseHead(headEnd, bodyStart) == Status::Bad) return status_;
  }
  if (buffer_.size() - bodyStart_ < contentLength_) return Status::NeedMore;
  request_.body = buffer_.substr(bodyStart_, contentLength_);
  request_.raw = buffer_.substr(0, bodyStart_ + contentLength_);
  buffer_.clear();
  return status_ = Status::Complete;
}

RequestParser::Status RequestParser::ParseHead(size_t headEnd, size_t bodyStart) {
  std::string head = buffer_.substr(0, headEnd);
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos <= head.size()) {
    size_t nl = head.find('\n', pos);
    std::string line = head.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }

  const std::string& first = lines.front();
  size_t sp1 = first.find(' ');
  size_t sp2 = sp1 == std::string::npos ? std::string::npos : first.find(' ', sp1 + 1);
  if (sp1 == 0 || sp2 == std::string::npos || sp2 == sp1 + 1 || sp2 + 1 >= first.size())
    return Fail("malformed request line");
  request_.method = first.substr(0, sp1);
  request_.target = first.substr(sp1 + 1, sp2 - sp1 - 1);
  request_.version = first.substr(sp2 + 1);
  if (request_.version.compare(0, 5, "HTTP/") != 0) return Fail("malformed request line");

  bool haveLength = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return Fail("malformed header line");
    std::string name = line.substr(0, colon);
    std::string value = Trim(line.substr(colon + 1));
    if (EqualsNoCase(name, "Content-Length")) {
      if (value.empty() || value.size() > 12) return Fail("bad Content-Length");
      size_t n = 0;
      for (char c : value) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return Fail("bad Content-Length");
        n = n * 10 + static_cast<size_t>(c - '0');
      }
      if (haveLength && n != contentLength_) return Fail("conflicting Content-Length");
      if (n > kMaxBodyBytes) return Fail("body too large");
      contentLength_ = n;
      haveLength = true;
    } else if (EqualsNoCase(name, "Transfer-Encoding")) {
      return Fail("chunked request bodies are not supported");
    }
    request_.headers.emplace_back(std::move(name), std::move(value));
  }
  headParsed_ = true;
  bodyStart_ = bodyStart;
  return Status::NeedMore;
}

}  // namespace gateway
