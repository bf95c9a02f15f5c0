// The install script held as INI-style text: one list item per section block
// (a header line beginning with "[" and everything up to the next one),
// sorted so that a section is found by binary search. Keys are looked up by
// scanning the cached body of the selected section in place. Nothing here
// reports malformed text: what is not recognised is simply not found.
#pragma once

#include <string>

#include "runtime/string_list.h"

namespace plf {

class TIniStringList : public TStringList {
  PLF_DECLARE_CLASS(TIniStringList, TStringList)

 public:
  TIniStringList();

  // Replaces the content with the section blocks of text; the list is left
  // sorted even when this raises.
  void LoadText(const std::string& text);
  // Position of the block whose header begins with the bracketed name, or -1.
  int FindSection(const std::string& name);
  // The block after its header line, untrimmed; empty for a missing section.
  void ReadSection(const std::string& name, std::string* body);
  // The rest of the first line "key=..." of the section, untrimmed; empty
  // when absent. Keeps the section selected for the next call.
  void ReadString(const std::string& section, const std::string& key, std::string* value);
  // Copies the source's items and objects, then sorts them.
  void Assign(const TStringList& source);

  // The list's order is the fold-table order, the one the header match uses,
  // so that every block whose header begins with a name follows that name.
  int CompareStrings(const std::string& a, const std::string& b) const override;

 private:
  void SelectSection(const std::string& bracketedName);
  void ReleaseSection();

  std::string selectedName_;  // empty: nothing selected
  std::string selectedBody_;
};

// The syntax routines behind TIniStringList.
void SplitSections(const std::string& text, TStringList* list);
std::string BracketSectionName(const std::string& name);
bool SameSectionName(const std::string& a, const std::string& b);
std::string StripFirstLine(const std::string& block);
// Just past the "=" of the first line in [start, end) that begins with key
// (locale comparison, case ignored) followed by "="; nullptr when none.
const char* FindKeyValue(const char* start, const char* end, const std::string& key);
std::string ExtractKeyValue(const std::string& body, const std::string& key);

}  // namespace plf
