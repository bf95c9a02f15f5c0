#include "streams/safe_release.h"

#include "runtime/file_tests.h"
#include "runtime/platform.h"
#include "runtime/string_list.h"

namespace plf {

namespace {

constexpr int kMaxClassNameLength = 40;

TStringList* gTempFiles = nullptr;

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// First letter "T" or "t" and at most 40 characters; the length is only
// counted as far as it matters.
bool IsValidClassName(const char* name) {
  if (name == nullptr || AsciiUpper(name[0]) != 'T') return false;
  for (int i = 0; i <= kMaxClassNameLength; ++i)
    if (name[i] == '\0') return true;
  return false;
}

bool SameTextAscii(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (AsciiUpper(*a) != AsciiUpper(*b)) return false;
  return *a == *b;
}

}  // namespace

bool IsValidClass(const ClassInfo* classType) {
  if (classType == nullptr || !IsValidClassName(classType->name)) return false;
  if (classType->base != nullptr) return IsValidClassName(classType->base->name);
  return SameTextAscii(classType->name, "TObject");
}

namespace detail {

void ReleaseIfValid(const void* address) {
  // Only the registry decides whether the address holds a live object; the
  // memory behind any other address is never looked at.
  if (!TObject::IsLive(address)) return;
  TObject* object = static_cast<TObject*>(const_cast<void*>(address));
  if (IsValidClass(&object->ClassType())) delete object;
}

}  // namespace detail

TStringList* TempFiles() { return gTempFiles; }

void AddTempFile(const std::string& name) {
  if (gTempFiles == nullptr) {
    auto* list = new TStringList();
    list->SetSorted(true);
    list->SetDuplicates(TStringList::Duplicates::Ignore);
    gTempFiles = list;
  }
  gTempFiles->Add(Sys().FullPath(name));
}

void DeleteTempFiles(TStringList* list, bool relist) {
  if (list == nullptr) return;
  // Re-listing into the list being emptied would never end.
  if (list == gTempFiles) relist = false;
  while (list->Count() > 0) {
    const int last = list->Count() - 1;
    const std::string name = list->Strings(last);
    list->Delete(last);
    if (!Sys().DeleteFile(name) && relist && FileExists(name)) AddTempFile(name);
  }
}

void RunTempFilesExitStep() {
  if (gTempFiles == nullptr) return;
  DeleteTempFiles(gTempFiles, false);
  FreeAndClear(&gTempFiles);
}

}  // namespace plf
