#include "text/ini_string_list.h"

#include <utility>
#include <vector>

#include "runtime/platform.h"
#include "text/textutil.h"

namespace plf {

void SplitSections(const std::string& text, TStringList* list) {
  if (text.empty()) return;
  const char* cursor = text.c_str();  // NUL-terminated: a NUL inside ends the text
  const char* blockStart = nullptr;
  do {
    SkipWhitespace(&cursor);
    const char* lineEnd = FindLineEnd(cursor);
    if (*cursor == '[') {
      if (blockStart != nullptr) list->Add(std::string(blockStart, cursor));
      blockStart = cursor;
    }
    cursor = PastLineBreak(lineEnd);
  } while (*cursor != '\0');
  if (blockStart != nullptr) list->Add(std::string(blockStart, cursor));
}

std::string BracketSectionName(const std::string& name) {
  std::string trimmed = Trim(name);
  if (trimmed.empty() || trimmed[0] == '[') return trimmed;
  return "[" + trimmed + "]";
}

bool SameSectionName(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  return CompareFolded(BracketSectionName(a), BracketSectionName(b)) == 0;
}

std::string StripFirstLine(const std::string& block) {
  const char* cursor = block.c_str();
  std::string header;
  TakeLine(&cursor, &header);
  return std::string(cursor);  // up to the end of the text (its first NUL)
}

const char* FindKeyValue(const char* start, const char* end, const std::string& key) {
  if (key.empty() || start == nullptr) return nullptr;
  const std::size_t keyLength = key.size();
  const char* cursor = start;
  while (cursor < end && *cursor != '\0') {
    const char* lineEnd = FindLineEnd(cursor);
    if (lineEnd > end) lineEnd = end;
    // Only a line that holds the key and one more character can match, so
    // the comparison never looks past the line.
    if (static_cast<std::size_t>(lineEnd - cursor) > keyLength && cursor[keyLength] == '=' &&
        Sys().CompareTextLocale(std::string(cursor, keyLength), key) == 0)
      return cursor + keyLength + 1;
    if (lineEnd >= end) break;
    cursor = PastLineBreak(lineEnd);
  }
  return nullptr;
}

std::string ExtractKeyValue(const std::string& body, const std::string& key) {
  const char* value = FindKeyValue(body.c_str(), body.c_str() + body.size(), key);
  if (value == nullptr) return std::string();
  return std::string(value, FindLineEnd(value));
}

TIniStringList::TIniStringList() { SetSorted(true); }

int TIniStringList::CompareStrings(const std::string& a, const std::string& b) const {
  return CompareFolded(a, b);
}

void TIniStringList::LoadText(const std::string& text) {
  ReleaseSection();
  Clear();
  SetSorted(false);
  try {
    SplitSections(text, this);
  } catch (...) {
    SetSorted(true);
    throw;
  }
  SetSorted(true);
}

void TIniStringList::Assign(const TStringList& source) {
  // The source may be this very list: take the copies before clearing.
  std::vector<Item> copies;
  copies.reserve(static_cast<std::size_t>(source.Count()));
  for (int i = 0; i < source.Count(); ++i) copies.push_back({source.Strings(i), source.Objects(i)});
  // A cached body would belong to the old content.
  ReleaseSection();
  SetSorted(false);
  items_ = std::move(copies);
  SetSorted(true);
}

int TIniStringList::FindSection(const std::string& name) {
  const std::string key = BracketSectionName(name);
  if (key.empty()) return -1;
  int index = 0;
  Find(key, &index);
  if (index >= Count()) return -1;
  return StartsWithFolded(key, Strings(index)) ? index : -1;
}

void TIniStringList::ReadSection(const std::string& name, std::string* body) {
  ReleaseSection();
  const int index = FindSection(name);
  if (index < 0) {
    body->clear();
    return;
  }
  *body = StripFirstLine(Strings(index));
}

void TIniStringList::ReadString(const std::string& section, const std::string& key, std::string* value) {
  SelectSection(BracketSectionName(section));
  *value = ExtractKeyValue(selectedBody_, key);
}

void TIniStringList::SelectSection(const std::string& bracketedName) {
  if (!selectedName_.empty() && SameSectionName(bracketedName, selectedName_)) return;
  ReleaseSection();
  std::string body;
  ReadSection(bracketedName, &body);
  selectedBody_ = std::move(body);
  selectedName_ = bracketedName;
}

void TIniStringList::ReleaseSection() {
  selectedName_.clear();
  selectedBody_.clear();
}

}  // namespace plf
