// Byte-level builders for package fixtures that the writer would never make
// (damaged headers, odd record lengths, names running past their record),
// and zlib helpers for compressed fixtures.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace plf::test {

std::string Le32(std::uint32_t value);
inline std::string Le32s(std::int32_t value) { return Le32(static_cast<std::uint32_t>(value)); }

// "ZLIB_PLF", version, directory offset, 0.
std::string FileHeaderBytes(std::int32_t directoryOffset, std::uint32_t version = 0x173FE513u);
// "ZLIB_DIR", 0, count, value.
std::string DirHeaderBytes(std::int32_t count, std::uint32_t value = 0);

struct RawRecord {
  std::int32_t length = -1;  // -1: max(40, 25 + name length)
  std::int32_t dataOffset = 0;
  std::int32_t compressedSize = 0;
  std::int32_t uncompressedSize = 0;
  std::array<std::uint8_t, 4> date{};
  std::string name;
  int nameLengthByte = -1;  // -1: the name's length
};

// The record as stored: length + 4 bytes (a name that does not fit is cut
// at the record's end).
std::string RecordBytes(const RawRecord& r);

inline constexpr std::int32_t kRecordCount = -2147483647 - 1;

// Header, `data` at offset 20, directory header with `count` (by default the
// number of records) and the records.
std::string PackageBytes(const std::string& data, const std::vector<std::string>& records,
                         std::int32_t count = kRecordCount);

// zlib format (RFC 1950) at `level`, and with a preset dictionary.
std::string ZlibCompress(const std::string& data, int level = 6);
std::string ZlibWithDictionary(const std::string& data, const std::string& dictionary);

// Offset of record `index`'s length field in a package's bytes, found
// through the directory offset and the record lengths before it.
std::size_t RecordOffset(const std::string& package, int index);
// The little-endian 32-bit field at `at`.
std::int32_t FieldAt(const std::string& bytes, std::size_t at);
void SetFieldAt(std::string* bytes, std::size_t at, std::int32_t value);
// Where the fields of a record lie, counted from its length field.
enum RecordField { kRecordDataOffset = 4, kRecordCompressedSize = 8, kRecordUncompressedSize = 12 };

}  // namespace plf::test
