// An ordered list of 8-bit strings, each with an optional attached pointer
// that the list does not own. When sorted, items stay in ascending order of
// CompareStrings (by default the platform's locale comparison, case
// ignored); switching sorting on sorts stably.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/object.h"

namespace plf {

inline constexpr const char kSListIndexError[] = "List index out of bounds (%d)";

class TStringList : public TObject {
  PLF_DECLARE_CLASS(TStringList, TObject)

 public:
  enum class Duplicates { Accept, Ignore };

  TStringList() = default;
  ~TStringList() override = default;

  int Count() const { return static_cast<int>(items_.size()); }
  // Index checks raise EStringListError "List index out of bounds (%d)".
  const std::string& Strings(int index) const;
  void* Objects(int index) const;

  // Sorted: inserted at its place (an equal item is skipped under Ignore,
  // returning -1). Unsorted: appended.
  int Add(const std::string& s, void* object = nullptr);
  void Delete(int index);
  void Clear();

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  void SetDuplicates(Duplicates d) { duplicates_ = d; }

  // Binary search of a sorted list: true when an equal item exists; index is
  // the lowest position whose item does not compare below s.
  bool Find(const std::string& s, int* index) const;
  // Plain walk from the start: the first item that compares equal, or -1.
  int IndexOf(const std::string& s) const;

  // Cuts text into lines at CR LF, CR or LF; empty lines stay, a NUL ends
  // the text, and a final line break adds no empty line.
  void SetText(const std::string& text);

  virtual int CompareStrings(const std::string& a, const std::string& b) const;

 protected:
  struct Item {
    std::string text;
    void* object;
  };
  void Sort();
  std::vector<Item> items_;

 private:
  void CheckIndex(int index) const;

  bool sorted_ = false;
  Duplicates duplicates_ = Duplicates::Accept;
};

}  // namespace plf
