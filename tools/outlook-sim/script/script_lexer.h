#pragma once
// Splits script text into statements of tokens: statements end at a line end or ';', '#' starts
// a comment, "quoted" tokens take escapes and an optional *N repeat suffix.
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Token {
  std::string text;  // UTF-8, escapes and repeat applied
  bool quoted = false;
};

struct Statement {
  int line = 0;
  std::vector<Token> tokens;
};

struct LexResult {
  std::vector<Statement> statements;
  std::string error;  // "line N: ..." ; empty on success
};

LexResult LexScript(std::string_view text);

}  // namespace sim
