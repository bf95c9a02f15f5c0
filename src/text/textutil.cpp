#include "text/textutil.h"

#include "runtime/platform.h"

namespace plf {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

unsigned char AsciiUpper(unsigned char c) {
  return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

// Constant-initialised with ASCII folding, so that a comparison made before
// start-up (or in a program that never calls BuildCaseTables) still folds.
#define PLF_FOLD1(c) static_cast<unsigned char>((c) >= 'a' && (c) <= 'z' ? (c) - 32 : (c))
#define PLF_FOLD4(c) PLF_FOLD1(c), PLF_FOLD1((c) + 1), PLF_FOLD1((c) + 2), PLF_FOLD1((c) + 3)
#define PLF_FOLD16(c) PLF_FOLD4(c), PLF_FOLD4((c) + 4), PLF_FOLD4((c) + 8), PLF_FOLD4((c) + 12)
#define PLF_FOLD64(c) PLF_FOLD16(c), PLF_FOLD16((c) + 16), PLF_FOLD16((c) + 32), PLF_FOLD16((c) + 48)
unsigned char UpperFoldTable[256] = {PLF_FOLD64(0), PLF_FOLD64(64), PLF_FOLD64(128), PLF_FOLD64(192)};
#undef PLF_FOLD64
#undef PLF_FOLD16
#undef PLF_FOLD4
#undef PLF_FOLD1

std::string Trim(const std::string& s) {
  std::size_t first = 0;
  std::size_t last = s.size();
  while (first < last && IsBlank(s[first])) ++first;
  while (last > first && IsBlank(s[last - 1])) --last;
  return s.substr(first, last - first);
}

void EnsureTrailingBackslash(std::string* path) {
  if (!path->empty() && path->back() != '\\') path->push_back('\\');
}

bool SameTextPrefix(const std::string& a, const std::string& b, int n) {
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  const std::size_t limit = n > 0 ? static_cast<std::size_t>(n) : 0;
  for (std::size_t i = 0; i < limit; ++i) {
    const bool aEnds = i >= a.size();
    const bool bEnds = i >= b.size();
    if (aEnds || bEnds) return aEnds && bEnds;
    if (AsciiUpper(static_cast<unsigned char>(a[i])) != AsciiUpper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

void SplitOff(std::string* text, char separator, std::string* head) {
  const std::size_t at = text->find(separator);
  if (at == std::string::npos) {
    *head = *text;
    text->clear();
    return;
  }
  *head = text->substr(0, at);
  text->erase(0, at + 1);
}

const char* FindLineEnd(const char* cursor) {
  if (cursor == nullptr) return nullptr;
  while (*cursor != '\0' && *cursor != '\n' && *cursor != '\r') ++cursor;
  return cursor;
}

void SkipWhitespace(const char** cursor) {
  if (cursor == nullptr || *cursor == nullptr) return;
  const char* p = *cursor;
  while (*p == '\t' || *p == '\n' || *p == '\r' || *p == ' ') ++p;
  *cursor = p;
}

const char* PastLineBreak(const char* cursor) {
  if (cursor == nullptr) return nullptr;
  if (*cursor == '\r') ++cursor;
  if (*cursor == '\n') ++cursor;
  return cursor;
}

void SkipLineBreak(const char** cursor) {
  if (cursor == nullptr) return;
  *cursor = PastLineBreak(*cursor);
}

void TakeLine(const char** cursor, std::string* line) {
  line->clear();
  if (cursor == nullptr || *cursor == nullptr || **cursor == '\0') return;
  const char* end = FindLineEnd(*cursor);
  line->assign(*cursor, end);
  *cursor = PastLineBreak(end);
}

void BuildCaseTables() {
  for (int c = 0; c <= 32; ++c) UpperFoldTable[c] = static_cast<unsigned char>(c);
  Platform& sys = Sys();
  for (int c = 33; c <= 255; ++c) UpperFoldTable[c] = sys.UpperChar(static_cast<unsigned char>(c));
}

int CompareFoldedN(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const int fa = UpperFoldTable[static_cast<unsigned char>(a[i])];
    const int fb = UpperFoldTable[static_cast<unsigned char>(b[i])];
    if (fa != fb) return fa - fb;
  }
  return 0;
}

int CompareFolded(const std::string& a, const std::string& b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  const int c = CompareFoldedN(a.data(), b.data(), n);
  if (c != 0) return c;
  // Lengths may exceed int; only the sign matters to the callers.
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool StartsWithFolded(const std::string& prefix, const std::string& text) {
  return text.size() >= prefix.size() && CompareFoldedN(prefix.data(), text.data(), prefix.size()) == 0;
}

}  // namespace plf
