#pragma once
// A small JSON reader (RFC 8259) for the gateway's answers about a call: strict (what is not
// JSON is refused whole, nothing is guessed) and bounded (the text, the nesting and the count of
// values are capped, so that whatever a gateway sends costs a known amount). The agent reads a
// handful of fields; a library would weigh more than the rest of the call path.
#include <cstddef>
#include <string>
#include <vector>

class JsonValue {
 public:
  enum class Kind { Null, Bool, Number, String, Array, Object };

  static constexpr size_t kMaxTextBytes = 256 * 1024;
  static constexpr int kMaxDepth = 16;
  static constexpr size_t kMaxValues = 4096;

  // The value of the whole text; false (out untouched) for anything that is not exactly one JSON
  // value with blanks around it, or that passes a bound. Duplicate names in an object are refused.
  static bool Parse(const std::string& text, JsonValue& out);

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  // An object's member by its name; nullptr when there is none or this is no object.
  const JsonValue* Member(const std::string& name) const;
  // An array's items (an object's members' values); empty for the other kinds.
  const std::vector<JsonValue>& Items() const { return items_; }

  // The value when it is of its kind, else `otherwise`. A number is an integer only when it was
  // written as one (no fraction, no exponent) and fits in a long long.
  bool BoolOr(bool otherwise) const { return kind_ == Kind::Bool ? bool_ : otherwise; }
  long long IntegerOr(long long otherwise) const { return kind_ == Kind::Number && integer_ ? int_ : otherwise; }
  const std::string& StringOr(const std::string& otherwise) const {
    return kind_ == Kind::String ? text_ : otherwise;
  }
  bool IsString() const { return kind_ == Kind::String; }
  bool IsInteger() const { return kind_ == Kind::Number && integer_; }

 private:
  friend class JsonParser;
  Kind kind_ = Kind::Null;
  bool bool_ = false;
  bool integer_ = false;
  long long int_ = 0;
  std::string text_;                          // a string's characters, UTF-8
  std::vector<JsonValue> items_;   // an array's items, an object's values
  std::vector<std::string> names_;  // an object's names, one per item
};
