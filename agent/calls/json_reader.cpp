#include "agent/calls/json_reader.h"

#include <climits>

#include "agent/calls/text_encoding.h"

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : p_(text.data()), end_(text.data() + text.size()) {}

  bool Whole(JsonValue& out) {
    Blanks();
    if (!Value(out, 0)) return false;
    Blanks();
    return p_ == end_;
  }

 private:
  void Blanks() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
  }

  bool Literal(const char* word) {
    const char* q = p_;
    for (; *word; ++word, ++q)
      if (q >= end_ || *q != *word) return false;
    p_ = q;
    return true;
  }

  bool Value(JsonValue& v, int depth) {
    if (++values_ > JsonValue::kMaxValues || p_ >= end_) return false;
    switch (*p_) {
      case '{': return depth < JsonValue::kMaxDepth && Object(v, depth + 1);
      case '[': return depth < JsonValue::kMaxDepth && Array(v, depth + 1);
      case '"':
        v.kind_ = JsonValue::Kind::String;
        return String(v.text_);
      case 't':
        v.kind_ = JsonValue::Kind::Bool;
        v.bool_ = true;
        return Literal("true");
      case 'f':
        v.kind_ = JsonValue::Kind::Bool;
        return Literal("false");
      case 'n': return Literal("null");
      default: return Number(v);
    }
  }

  bool Object(JsonValue& v, int depth) {
    v.kind_ = JsonValue::Kind::Object;
    return Elements('}', [&] {
      std::string name;
      if (p_ >= end_ || *p_ != '"' || !String(name)) return false;
      Blanks();
      if (p_ >= end_ || *p_++ != ':') return false;
      Blanks();
      JsonValue member;
      if (!Value(member, depth)) return false;
      for (const std::string& known : v.names_)
        if (known == name) return false;
      v.names_.push_back(std::move(name));
      v.items_.push_back(std::move(member));
      return true;
    });
  }

  bool Array(JsonValue& v, int depth) {
    v.kind_ = JsonValue::Kind::Array;
    return Elements(']', [&] {
      v.items_.emplace_back();
      return Value(v.items_.back(), depth);
    });
  }

  // An object's members or an array's values: from the opening bracket under p_ up to `close`,
  // "," between them; `readOne` reads one, with the blanks around it already skipped.
  template <typename ReadOne>
  bool Elements(char close, ReadOne readOne) {
    ++p_;
    Blanks();
    if (p_ < end_ && *p_ == close) {
      ++p_;
      return true;
    }
    for (;;) {
      Blanks();
      if (!readOne()) return false;
      Blanks();
      if (p_ >= end_) return false;
      const char c = *p_++;
      if (c == close) return true;
      if (c != ',') return false;
    }
  }

  static bool Digit(char c) { return c >= '0' && c <= '9'; }

  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
  bool Number(JsonValue& v) {
    v.kind_ = JsonValue::Kind::Number;
    bool negative = false;
    if (p_ < end_ && *p_ == '-') {
      negative = true;
      ++p_;
    }
    if (p_ >= end_ || !Digit(*p_)) return false;
    bool fits = true;
    unsigned long long magnitude = 0;
    if (*p_ == '0') {
      ++p_;
    } else {
      for (; p_ < end_ && Digit(*p_); ++p_) {
        const unsigned digit = static_cast<unsigned>(*p_ - '0');
        if (magnitude > (ULLONG_MAX - digit) / 10) fits = false;
        else magnitude = magnitude * 10 + digit;
      }
    }
    bool integer = true;
    if (p_ < end_ && *p_ == '.') {
      ++p_;
      if (p_ >= end_ || !Digit(*p_)) return false;
      while (p_ < end_ && Digit(*p_)) ++p_;
      integer = false;
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (p_ >= end_ || !Digit(*p_)) return false;
      while (p_ < end_ && Digit(*p_)) ++p_;
      integer = false;
    }
    const unsigned long long limit = negative ? static_cast<unsigned long long>(LLONG_MAX) + 1 : LLONG_MAX;
    if (integer && fits && magnitude <= limit) {
      v.integer_ = true;
      v.int_ = negative ? static_cast<long long>(0 - magnitude) : static_cast<long long>(magnitude);
    }
    return true;
  }

  int Hex4() {
    if (end_ - p_ < 4) return -1;
    int value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = *p_++;
      int digit = -1;
      if (Digit(c)) digit = c - '0';
      else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) return -1;
      value = value * 16 + digit;
    }
    return value;
  }

  // The bytes of a UTF-8 sequence starting at p_ (its first byte at least 0x80), copied when it
  // is well formed (no overlong form, no surrogate, at most U+10FFFF).
  bool Utf8Sequence(std::string& out) {
    const unsigned char first = static_cast<unsigned char>(*p_);
    int length = 0;
    char32_t c = 0;
    if (first >= 0xC2 && first <= 0xDF) length = 2, c = first & 0x1F;
    else if (first >= 0xE0 && first <= 0xEF) length = 3, c = first & 0x0F;
    else if (first >= 0xF0 && first <= 0xF4) length = 4, c = first & 0x07;
    else return false;
    if (end_ - p_ < length) return false;
    for (int i = 1; i < length; ++i) {
      const unsigned char next = static_cast<unsigned char>(p_[i]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    if ((length == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)))
      return false;
    out.append(p_, static_cast<size_t>(length));
    p_ += length;
    return true;
  }

  bool String(std::string& out) {
    ++p_;  // the opening quote
    while (p_ < end_) {
      const char c = *p_;
      if (c == '"') {
        ++p_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (static_cast<unsigned char>(c) >= 0x80) {
        if (!Utf8Sequence(out)) return false;
        continue;
      }
      ++p_;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (p_ >= end_) return false;
      const char e = *p_++;
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          int unit = Hex4();
          if (unit < 0) return false;
          char32_t code = static_cast<char32_t>(unit);
          if (unit >= 0xDC00 && unit <= 0xDFFF) return false;  // a low surrogate alone
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
            p_ += 2;
            const int low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  const char* p_;
  const char* const end_;
  size_t values_ = 0;
};

bool JsonValue::Parse(const std::string& text, JsonValue& out) {
  if (text.size() > kMaxTextBytes) return false;
  JsonValue value;
  if (!JsonParser(text).Whole(value)) return false;
  out = std::move(value);
  return true;
}

const JsonValue* JsonValue::Member(const std::string& name) const {
  if (kind_ != Kind::Object) return nullptr;
  for (size_t i = 0; i < names_.size(); ++i)
    if (names_[i] == name) return &items_[i];
  return nullptr;
}
