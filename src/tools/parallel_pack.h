// Files compressed on several threads and appended to a package in the order
// given, so that the package is the same byte for byte whatever the number
// of threads. Each thread compresses one file at a time into a buffer of its
// own; finished entries wait for their turn (at most 256 of them, holding at
// most 8 MiB of compressed data per thread), and an entry whose compressed
// data outgrows its buffer continues in a temporary file beside the package,
// so memory stays bounded however large the files are. The threads touch no
// object of the system's classes, only zlib and the platform's file calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "package/records.h"

namespace plf {
class TPackageWriter;
}

namespace plf::tools {

struct PackItem {
  PackItem(std::string entryName, std::string file, PackedDate entryDate)
      : name(std::move(entryName)), path(std::move(file)), date(entryDate) {}

  std::string name;  // the entry name
  std::string path;  // the file, or what the text came from
  PackedDate date;
  bool inMemory = false;  // the entry is `text`, not the file's bytes
  std::string text;
};

struct PackProgress {
  std::size_t entriesDone = 0;
  std::size_t entriesTotal = 0;
  std::int64_t bytesDone = 0;  // uncompressed bytes of the entries written
};

struct PackOptions {
  unsigned jobs = 1;  // compressing threads, at least 1
  // Bytes of compressed data an entry may hold in memory before it moves to
  // a temporary file.
  std::size_t memoryPerEntry = std::size_t{2} << 20;
  std::function<void(const PackProgress&)> progress;  // after each entry, on the caller's thread
};

// Adds the files as entries of `writer` (compressed at its level), in order.
// A file that cannot be read, or is 2 GiB or larger, raises an Exception that
// names it; the writer is then left as it was after the last entry written
// (the caller abandons the package).
void PackFiles(TPackageWriter& writer, const std::vector<PackItem>& items, const PackOptions& options);

// Temporary file of entry `index` of the package `packagePath`.
std::string SpillFileName(const std::string& packagePath, std::size_t index);

}  // namespace plf::tools
