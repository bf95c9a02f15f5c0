#include "runtime/wildcard.h"

#include <vector>

namespace plf {

namespace {

// The pattern as Windows reads it before it searches.
enum class Kind : char { Literal, Star, DosStar, DosQuestion, DosDot };
struct Token {
  Kind kind;
  char c;
};

std::vector<Token> Tokens(const std::string& pattern) {
  std::vector<Token> tokens;
  if (pattern == "*.*") return {{Kind::Star, 0}};
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (c == '?')
      tokens.push_back({Kind::DosQuestion, 0});
    else if (c == '*')
      tokens.push_back({next == '.' ? Kind::DosStar : Kind::Star, 0});
    else if (c == '.' && (next == '?' || next == '*' || next == '\0'))
      tokens.push_back({Kind::DosDot, 0});
    else
      tokens.push_back({Kind::Literal, c});
  }
  return tokens;
}

class Matcher {
 public:
  Matcher(const std::vector<Token>& tokens, const std::string& name)
      : tokens_(tokens), name_(name), lastDot_(name.rfind('.')),
        memo_((tokens.size() + 1) * (name.size() + 1), kUnknown) {}

  bool Match(std::size_t t, std::size_t n) {
    char& seen = memo_[t * (name_.size() + 1) + n];
    if (seen == kUnknown) seen = Compute(t, n) ? kYes : kNo;
    return seen == kYes;
  }

 private:
  static constexpr char kUnknown = 0, kYes = 1, kNo = 2;

  bool Compute(std::size_t t, std::size_t n) {
    const bool atEnd = n == name_.size();
    if (t == tokens_.size()) return atEnd;
    const Token& token = tokens_[t];
    switch (token.kind) {
      case Kind::Literal: return !atEnd && name_[n] == token.c && Match(t + 1, n + 1);
      case Kind::Star: return Match(t + 1, n) || (!atEnd && Match(t, n + 1));
      case Kind::DosStar:
        // Never takes the name's last dot, which the pattern's "." wants.
        return Match(t + 1, n) || (!atEnd && n != lastDot_ && Match(t, n + 1));
      case Kind::DosQuestion:
        if (atEnd || name_[n] == '.') return Match(t + 1, n);
        return Match(t + 1, n + 1);
      case Kind::DosDot:
        if (atEnd) return Match(t + 1, n);
        return name_[n] == '.' && Match(t + 1, n + 1);
    }
    return false;
  }

  const std::vector<Token>& tokens_;
  const std::string& name_;
  std::size_t lastDot_;
  std::vector<char> memo_;
};

}  // namespace

bool HasWildcards(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

bool MatchesWildcard(const std::string& pattern, const std::string& name) {
  const std::vector<Token> tokens = Tokens(pattern);
  return Matcher(tokens, name).Match(0, 0);
}

}  // namespace plf
