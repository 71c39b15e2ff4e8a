#include "tools/outlook-sim/script/script_lexer.h"

#include "tools/outlook-sim/script/utf.h"

namespace sim {
namespace {

constexpr size_t kMaxTokenBytes = 16 * 1024 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool EndsBareWord(char c) { return IsBlank(c) || c == '\n' || c == ';' || c == '#'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : s_(text) {
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  }

  LexResult Run() {
    LexResult result;
    Statement current;
    current.line = line_;
    auto finish = [&] {
      if (!current.tokens.empty()) result.statements.push_back(std::move(current));
      current = Statement();
      current.line = line_;
    };
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (IsBlank(c)) {
        ++pos_;
      } else if (c == '\n') {
        ++pos_;
        finish();
        ++line_;
        current.line = line_;
      } else if (c == ';') {
        ++pos_;
        finish();
      } else if (c == '#') {
        while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
      } else {
        if (current.tokens.empty()) current.line = line_;
        Token token;
        if (!(c == '"' ? Quoted(&token) : Bare(&token))) {
          result.error = "line " + std::to_string(line_) + ": " + error_;
          result.statements.clear();
          return result;
        }
        current.tokens.push_back(std::move(token));
      }
    }
    finish();
    return result;
  }

 private:
  bool Bare(Token* token) {
    const size_t start = pos_;
    while (pos_ < s_.size() && !EndsBareWord(s_[pos_])) ++pos_;
    token->text.assign(s_.substr(start, pos_ - start));
    std::u16string ignored;
    if (!Utf8ToUtf16(token->text, &ignored)) return Fail("malformed UTF-8");
    return true;
  }

  bool Quoted(Token* token) {
    token->quoted = true;
    ++pos_;  // opening quote
    std::string& out = token->text;
    size_t runStart = pos_;
    for (;;) {
      if (pos_ >= s_.size() || s_[pos_] == '\n') return Fail("unterminated quoted text");
      const char c = s_[pos_];
      if (c == '"') {
        out.append(s_.substr(runStart, pos_ - runStart));
        ++pos_;
        break;
      }
      if (c != '\\') {
        ++pos_;
        continue;
      }
      out.append(s_.substr(runStart, pos_ - runStart));
      if (pos_ + 1 >= s_.size()) return Fail("unterminated quoted text");
      const char e = s_[pos_ + 1];
      pos_ += 2;
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u':
          if (!CodePointEscape(&out)) return false;
          break;
        default: return Fail(std::string("unknown escape \\") + e);
      }
      runStart = pos_;
    }
    std::u16string ignored;
    if (!Utf8ToUtf16(out, &ignored)) return Fail("malformed UTF-8");
    return RepeatSuffix(&out);
  }

  // \u{HEX}: one Unicode scalar value.
  bool CodePointEscape(std::string* out) {
    if (pos_ >= s_.size() || s_[pos_] != '{') return Fail("\\u needs {hex digits}");
    ++pos_;
    char32_t cp = 0;
    int digits = 0;
    while (pos_ < s_.size() && HexValue(s_[pos_]) >= 0) {
      if (++digits > 6) return Fail("\\u{...} too long");
      cp = cp * 16 + static_cast<char32_t>(HexValue(s_[pos_]));
      ++pos_;
    }
    if (digits == 0 || pos_ >= s_.size() || s_[pos_] != '}') return Fail("\\u needs {hex digits}");
    ++pos_;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return Fail("\\u{...} is no Unicode scalar value");
    AppendUtf8(cp, out);
    return true;
  }

  // "text"*N directly after the closing quote.
  bool RepeatSuffix(std::string* out) {
    if (pos_ >= s_.size() || EndsBareWord(s_[pos_])) return true;
    if (s_[pos_] != '*') return Fail("unexpected text after closing quote");
    ++pos_;
    size_t count = 0;
    size_t digits = 0;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
      if (++digits > 8) return Fail("repeat count too large");
      count = count * 10 + static_cast<size_t>(s_[pos_] - '0');
      ++pos_;
    }
    if (digits == 0) return Fail("'*' after quoted text needs a count");
    if (pos_ < s_.size() && !EndsBareWord(s_[pos_])) return Fail("unexpected text after repeat count");
    if (!out->empty() && count > kMaxTokenBytes / out->size()) return Fail("repeated text too long");
    std::string unit;
    unit.swap(*out);
    out->reserve(unit.size() * count);
    for (size_t i = 0; i < count; ++i) out->append(unit);
    return true;
  }

  bool Fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  std::string_view s_;
  size_t pos_ = 0;
  int line_ = 1;
  std::string error_;
};

}  // namespace

LexResult LexScript(std::string_view text) { return Lexer(text).Run(); }

}  // namespace sim
