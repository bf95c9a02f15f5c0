// Small text routines of the installer: trimming and cutting strings, a
// cursor-based line scanner over NUL-terminated text, and comparisons through
// a case-folding table built once at start-up.
//
// Three notions of "equal, case ignored" live side by side on purpose:
// SameTextPrefix folds ASCII letters only; CompareFolded and StartsWithFolded
// go through UpperFoldTable; keys are compared with the platform's locale
// rules (Sys().CompareTextLocale). Each caller keeps to its own.
#pragma once

#include <cstddef>
#include <string>

namespace plf {

// Removes every character with code 32 or less from both ends.
std::string Trim(const std::string& s);

// Appends "\" unless the path is empty or already ends in one.
void EnsureTrailingBackslash(std::string* path);

// Both empty: true; one empty: false; otherwise the first n characters agree
// with a-z folded to A-Z (a string that ends within them matches only a
// string that ends at the same place).
bool SameTextPrefix(const std::string& a, const std::string& b, int n);

// Cuts *text at its first separator: *head gets what precedes it, *text keeps
// what follows. Without a separator *head gets everything and *text empties.
void SplitOff(std::string* text, char separator, std::string* head);

// Cursor routines over NUL-terminated text. A cursor never passes the NUL;
// nullptr stands for "no position" and is passed through.
const char* FindLineEnd(const char* cursor);     // first CR, LF or NUL
void SkipWhitespace(const char** cursor);        // past TAB, LF, CR, space
const char* PastLineBreak(const char* cursor);   // one optional CR, then one optional LF
void SkipLineBreak(const char** cursor);
void TakeLine(const char** cursor, std::string* line);  // the line without its break

// Byte -> comparison byte: 0..32 map to themselves, the rest to the
// platform's upper case of that single character. Holds ASCII folding until
// BuildCaseTables runs.
extern unsigned char UpperFoldTable[256];
void BuildCaseTables();  // the program entry calls it at start-up

// Compares exactly n bytes through the fold table (a NUL does not stop it);
// the difference of the first differing folded bytes, or 0.
int CompareFoldedN(const char* a, const char* b, std::size_t n);
// Folded bytes first, then length: 0 exactly for equal length and bytes.
int CompareFolded(const std::string& a, const std::string& b);
// True when text is at least as long as prefix and begins with it, folded.
bool StartsWithFolded(const std::string& prefix, const std::string& text);

}  // namespace plf
