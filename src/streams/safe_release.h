// Defensive release of objects, and the list of temporary files that are
// deleted when the program ends.
//
// FreeAndClear clears the variable first and destroys the object only when
// it is a live object of the system's classes (registered by TObject) whose
// class passes IsValidClass. Anything else - an exception object, a dangling
// or made-up pointer - is dropped: not touched, not reported. Classes of the
// system derive from TObject along single inheritance, so an object's address
// is the address of its TObject part.
#pragma once

#include <string>

#include "runtime/object.h"

namespace plf {

class TStringList;

namespace detail {
// Destroys the object at `address` when it passes the test; drops it
// otherwise. An exception from the destructor passes to the caller.
void ReleaseIfValid(const void* address);
}  // namespace detail

template <class T>
void FreeAndClear(T** variable) {
  if (variable == nullptr) return;
  T* object = *variable;
  *variable = nullptr;
  detail::ReleaseIfValid(static_cast<const void*>(object));
}

// True when the class's own name and its direct base's name begin with "T"
// or "t" and have at most 40 characters; a class without a base passes only
// as "TObject" (case ignored).
bool IsValidClass(const ClassInfo* classType);

// The module-wide list of temporary files: absent (null) until the first
// AddTempFile; sorted in the locale order with case ignored, without
// duplicates, holding full paths.
TStringList* TempFiles();

// Adds the full path of `name` to TempFiles (once, case ignored).
void AddTempFile(const std::string& name);

// Deletes the files the list names, last entry first, leaving the list
// empty. With `relist`, a file that cannot be deleted but still exists is
// added to TempFiles for a later attempt; never when `list` is TempFiles.
// A null list does nothing.
void DeleteTempFiles(TStringList* list, bool relist);

// The exit step: deletes the files in TempFiles and releases the list.
// Nothing is reported; with no list it does nothing.
void RunTempFilesExitStep();

}  // namespace plf
