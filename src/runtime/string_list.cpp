#include "runtime/string_list.h"

#include <algorithm>

#include "runtime/exceptions.h"
#include "runtime/platform.h"

namespace plf {

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EStringListError(Format(kSListIndexError, {std::to_string(index)}));
}

const std::string& TStringList::Strings(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].text;
}

void* TStringList::Objects(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].object;
}

int TStringList::Add(const std::string& s, void* object) {
  if (!sorted_) {
    items_.push_back({s, object});
    return Count() - 1;
  }
  int index = 0;
  if (Find(s, &index) && duplicates_ == Duplicates::Ignore) return -1;
  items_.insert(items_.begin() + index, Item{s, object});
  return index;
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
}

void TStringList::Clear() { items_.clear(); }

void TStringList::SetSorted(bool sorted) {
  if (sorted && !sorted_) Sort();
  sorted_ = sorted;
}

void TStringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const Item& a, const Item& b) { return CompareStrings(a.text, b.text) < 0; });
}

bool TStringList::Find(const std::string& s, int* index) const {
  int lo = 0;
  int hi = Count();
  bool found = false;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    const int c = CompareStrings(items_[static_cast<std::size_t>(mid)].text, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      if (c == 0) found = true;
      hi = mid;
    }
  }
  *index = lo;
  return found;
}

int TStringList::IndexOf(const std::string& s) const {
  for (int i = 0; i < Count(); ++i)
    if (CompareStrings(items_[static_cast<std::size_t>(i)].text, s) == 0) return i;
  return -1;
}

void TStringList::SetText(const std::string& text) {
  Clear();
  const char* p = text.c_str();  // NUL-terminated: a NUL inside ends the text
  while (*p != '\0') {
    const char* start = p;
    while (*p != '\0' && *p != '\n' && *p != '\r') ++p;
    Add(std::string(start, p));
    if (*p == '\r') ++p;
    if (*p == '\n') ++p;
  }
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
  return Sys().CompareTextLocale(a, b);
}

}  // namespace plf
