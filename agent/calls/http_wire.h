#pragma once
// The gateway exchange on the wire, as plain text work: the bytes of the call request, and the
// reading of the gateway's answer with every size bounded, whatever the gateway sends (an endless
// header, an endless chunked body, megabytes of anything). The socket part only moves bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/calls/outcome.h"

// HTTP's default port, used when the stored port's low 16 bits are 0.
constexpr uint16_t kHttpDefaultPort = 80;

// False for a host that must not go into a request head (empty, blanks, control bytes).
bool IsUsableHostName(const std::string& host);

// The gateway's host setting as written: a name or address as it has always been (plain HTTP,
// used exactly as written), or "https://" and the name (HTTPS; the port is still the port
// setting's, and a trailing "/" is allowed since addresses are often pasted that way). An IPv6
// address after "https://" may be written bare or in brackets.
struct GatewayHost {
  bool https = false;
  std::string name;     // what is resolved, put in the Host header and checked in the certificate
  const char* problem;  // nullptr when usable, else why not, as the user reads it
};
extern const char kGatewayHostPortText[];  // "https://name:port": the port goes in its own setting
extern const char kGatewayHostPathText[];  // "https://name/path", user@name, another scheme
GatewayHost ParseGatewayHost(const std::string& written);

// The request: a POST of the form body with the header set the gateway has always received, in
// its order (Content-Type, Host, Content-Length, User-Agent "Brisomel"), ended by the empty line
// and followed by the body bytes. The Content-Type names the ANSI code page the body's text is
// in ("; charset=windows-1250"; 65001 is "utf-8"; 0 names none); the body is sent as it is.
std::string ComposeGatewayRequest(const std::string& host, uint16_t port, const std::string& path,
                                  const std::string& body, unsigned codePage);
// The charset name for a Windows ANSI code page ("windows-1252", "utf-8"); "" for 0.
std::string CharsetOfCodePage(unsigned codePage);

// Reads one HTTP/1.x answer from the bytes of a connection, as they arrive. It keeps the status
// and at most the first kMaxBodyBytes of the body; it stops at once when the status says the
// body does not matter (anything but 2xx), when the body is complete, or when kMaxBodyBytes have
// arrived: the caller then closes the connection. Interim answers (1xx) are skipped.
class HttpAnswerReader {
 public:
  enum class State { NeedMore, Done, Failed };
  enum class Failure {
    None,
    NoAnswer,      // the connection ended before a complete status line and head
    NotHttp,       // the answer does not begin with "HTTP/<digit>.<digit> <3 digits>"
    HeadTooLarge,  // more than kMaxHeadBytes of status lines and headers
    BadLength,     // a Content-Length that is no number, or two that differ
    BadChunk,      // a chunk size line that is no hexadecimal number or too long
  };

  static constexpr size_t kMaxHeadBytes = 64 * 1024;  // all heads, interim answers included
  static constexpr size_t kMaxBodyBytes = 1024;       // the gateway's answer is one short line
  static constexpr size_t kMaxChunkLineBytes = 256;   // size, extensions and line end

  // Keeps at most maxBodyBytes of the body (a call's JSON is longer than the answer to a post).
  explicit HttpAnswerReader(size_t maxBodyBytes = kMaxBodyBytes) : maxBody_(maxBodyBytes) {}

  // Takes received bytes; bytes after the answer has ended are ignored.
  State Feed(const char* data, size_t size);
  // The peer closed its side: a body without a length (or cut short) ends here.
  State EndOfStream();

  State state() const { return state_; }
  Failure failure() const { return failure_; }
  int status() const { return status_; }  // the final status, 0 until it is known
  const std::string& body() const { return body_; }
  // The final answer's Talmery-Call-Token, when it is one (kCallTokenDigits hex digits); else "".
  const std::string& callToken() const { return callToken_; }

 private:
  enum class Phase { Head, FixedBody, ChunkSize, ChunkData, ChunkDataEnd, BodyToClose, End };

  State Fail(Failure failure);
  State Finish();
  void FeedHead(const char*& data, const char* end);
  void TakeHead(size_t headLength);  // the head's bytes are head_[0, headLength)
  void AppendBody(const char* data, size_t size);
  // Takes what arrived of the remaining_ bytes of a fixed-length body or a chunk; true when
  // none remain.
  bool TakeRemaining(const char*& data, const char* end);
  void ParseChunkSize();

  State state_ = State::NeedMore;
  Failure failure_ = Failure::None;
  Phase phase_ = Phase::Head;
  std::string head_;        // the head being read (bounded by kMaxHeadBytes)
  size_t headBytes_ = 0;    // head bytes of every answer so far, interim ones included
  int status_ = 0;
  std::string body_;
  uint64_t remaining_ = 0;  // of the fixed-length body or of the current chunk
  std::string chunkLine_;
  size_t maxBody_;
  std::string callToken_;
};

// What a gateway answers beside an accepted call's id: the token its caller reads the call
// back with (a gateway of an earlier version sends none).
extern const char kCallTokenHeader[];
constexpr size_t kCallTokenDigits = 32;
// Whether text is a token as the gateway gives them: kCallTokenDigits hex digits.
bool IsCallToken(const std::string& text);

// The request for one call's state: GET /calls/<id> with Host, the token header, User-Agent
// "Brisomel" and Connection: close. Empty when the id is not decimal digits (1 to 18) or the
// token is no token: nothing is to be sent then.
std::string ComposeCallStatusRequest(const std::string& host, uint16_t port, const std::string& requestId,
                                     const std::string& token);

// One line for the user on why an answer could not be read (the failure is not None).
const char* DescribeAnswerFailure(HttpAnswerReader::Failure failure);

// The gateway's answer grammar: "[id]" accepts a request, an "ERROR: " line or anything else
// refuses it.

extern const char kGatewayUnreachableText[];   // any HTTP status but 2xx
extern const char kGatewayUnrecognizedText[];  // "[" without a "]" after it

// Only a 2xx status carries an answer of the call request handler: a redirect (3xx) is not
// followed, since it could point anywhere, and an error status is no answer to read.
bool IsGatewayFailureStatus(uint32_t status);

// Accepted (the answer holds "[" and a later "]"): Done, with the identifier between them.
// Otherwise Failed with the reason as the user reads it (it may be empty); no identifier.
struct GatewayAnswer {
  Outcome outcome;
  std::string requestId;
  std::string callToken;  // with an id: the answer's token, when the gateway gave one
};

// Interprets the bytes of the answer (the first read only; may hold NULs).
GatewayAnswer InterpretGatewayAnswer(const std::string& answer);
